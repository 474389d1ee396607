// Writes what the loudspeaker plays while the engine answers the bundled sample with the voice
// changing under it (every character, the tuning overlay's extremes, pitch and tempo alone and
// together, mid-recording too), at three cycle lengths. Two builds of the engine that write the
// same file produce the same samples. Usage: engine_voice_trace OUT.raw (16-bit mono samples).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "DuplexAudioBackend.h"
#include "EngineRandom.h"
#include "PuppetAppDelegateAudio.h"
#include "VoiceEngineState.h"
#include "WavFile.h"

namespace {

class TraceDevice : public platform::DuplexAudioBackend {
 protected:
  std::string deviceRoute() const override { return "Trace"; }
  OSStatus deviceStart() override { return 0; }
  void deviceStop() override {}
};

// Pitch, tempo: the four characters, then the overlay's corners and a few steps between.
constexpr float kVoices[][2] = {{2.0f, 1.0f},  {1.6f, 1.3f},  {2.5f, 1.0f}, {2.0f, 2.0f},
                                {0.25f, 0.25f}, {4.0f, 4.0f},  {0.25f, 4.0f}, {4.0f, 0.25f},
                                {4.0f, 1.0f},  {0.5f, 1.0f},  {0.5f, 0.7f}, {1.0f, 0.7f},
                                {1.0f, 1.0f},  {2.0f, 1.0f}};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: engine_voice_trace OUT.raw\n");
    return 2;
  }
  auto wav = platform::readMonoWav16(std::string(QB_SOURCE_DIR) + "/resources/samples/hello-quibblers.wav");
  if (!wav.ok()) {
    std::fprintf(stderr, "%s\n", wav.error.c_str());
    return 1;
  }
  std::vector<std::int16_t> speech;
  for (int i = 0; i < 3; ++i) speech.insert(speech.end(), wav.samples.begin(), wav.samples.end());

  std::vector<std::int16_t> speaker;
  std::size_t switches = 0;
  for (const UInt32 frames : {1024u, 512u, 3072u}) {
    resetVoiceEngineState();
    auto device = std::make_shared<TraceDevice>();
    platform::setAudioBackend(device);
    PuppetAppDelegateAudio().initializeAudio();
    seedEngineRandom(1);
    AudioSessionSetActive(true);
    AudioOutputUnitStart(audioUnit);
    std::vector<std::int16_t> in(frames), out(frames);
    // Switch every 23 cycles of 1024 samples' worth, so most recordings see one or two changes;
    // pitch and tempo of the next voice land one cycle apart half of the time.
    const std::size_t period = 23u * 1024u / frames + 1;
    std::size_t cycle = 0;
    for (std::size_t at = 0; at < speech.size() + 6 * 44100; at += frames, ++cycle) {
      for (UInt32 i = 0; i < frames; ++i) in[i] = at + i < speech.size() ? speech[at + i] : 0;
      const std::size_t voice = (cycle / period) % std::size(kVoices);
      const bool split = (cycle / period) % 2 == 1;
      if (cycle % period == 0) {
        quibblePitch = kVoices[voice][0];
        if (!split) quibbleTimeStretch = kVoices[voice][1];
        ++switches;
      } else if (cycle % period == 1) {
        quibbleTimeStretch = kVoices[voice][1];
      }
      device->runCycle(in.data(), out.data(), frames, 0.0);
      speaker.insert(speaker.end(), out.begin(), out.end());
    }
    AudioOutputUnitStop(audioUnit);
    audioUnit = nullptr;
    platform::setAudioBackend(nullptr);
    quibblePitch = 2.0f;
    quibbleTimeStretch = 1.0f;
  }
  std::FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr || std::fwrite(speaker.data(), 2, speaker.size(), f) != speaker.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::size_t nonzero = 0;
  for (auto s : speaker) nonzero += s != 0;
  std::printf("%zu samples (%zu not silent), %zu voice changes\n", speaker.size(), nonzero, switches);
  return 0;
}
