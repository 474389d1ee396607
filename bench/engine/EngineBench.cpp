// Cost of the engine's callback pair on blocks of speech, against the pitch processor alone on
// the same blocks, and the tail of the per-cycle cost over whole listen/record/playback runs.
#include <benchmark/benchmark.h>
#include <soundtouch/SoundTouch.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "AudioCallbacks.h"
#include "DuplexAudioBackend.h"
#include "EngineRandom.h"
#include "SoundTouchProcessor.h"
#include "VoiceEngineState.h"
#include "WavFile.h"

namespace {

constexpr UInt32 kBlock = 1024;

class BenchDevice : public platform::DuplexAudioBackend {
 protected:
  std::string deviceRoute() const override { return "Bench"; }
  OSStatus deviceStart() override { return 0; }
  void deviceStop() override {}
};

const std::vector<std::int16_t>& sample() {
  static const std::vector<std::int16_t> samples = [] {
    auto wav = platform::readMonoWav16(std::string(QB_SOURCE_DIR) + "/resources/samples/hello-quibblers.wav");
    if (!wav.ok()) {
      std::fprintf(stderr, "%s\n", wav.error.c_str());
      std::exit(1);
    }
    return wav.samples;
  }();
  return samples;
}

// The sample's 1024-sample blocks that the engine would call speech (level above 315).
const std::vector<std::vector<std::int16_t>>& speechBlocks() {
  static const std::vector<std::vector<std::int16_t>> blocks = [] {
    std::vector<std::vector<std::int16_t>> out;
    const auto& s = sample();
    for (std::size_t at = 0; at + kBlock <= s.size(); at += kBlock) {
      long sum = 0;
      for (std::size_t i = at; i < at + kBlock; ++i) sum += std::abs(static_cast<int>(s[i]));
      if (sum / kBlock > 315) out.emplace_back(s.begin() + static_cast<std::ptrdiff_t>(at), s.begin() + static_cast<std::ptrdiff_t>(at + kBlock));
    }
    return out;
  }();
  return blocks;
}

std::shared_ptr<BenchDevice> setUpEngine() {
  resetVoiceEngineState();
  auto device = std::make_shared<BenchDevice>();
  platform::setAudioBackend(device);
  AudioComponentDescription d{kAudioUnitType_Output, kAudioUnitSubType_RemoteIO, kAudioUnitManufacturer_Apple, 0, 0};
  AudioUnit unit = nullptr;
  AudioComponentInstanceNew(AudioComponentFindNext(nullptr, &d), &unit);
  audioUnit = unit;
  const UInt32 one = 1;
  AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Input, 1, &one, 4);
  AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Output, 0, &one, 4);
  AURenderCallbackStruct in{recordingCallback, nullptr};
  AURenderCallbackStruct out{playbackCallback, nullptr};
  AudioUnitSetProperty(unit, kAudioOutputUnitProperty_SetInputCallback, kAudioUnitScope_Global, 1, &in, sizeof in);
  AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Global, 0, &out, sizeof out);
  AudioUnitInitialize(unit);
  static std::int16_t data[kCaptureBufferSamples];
  static AudioBufferList list{1, {{1, kCaptureBufferBytes, data}, {0, 0, nullptr}}};
  audioBufferList = &list;
  setUpSoundTouch();
  touchEngineBuffers();
  seedEngineRandom(1);
  programMode = kModeListening;
  AudioOutputUnitStart(unit);
  return device;
}

// The library alone: put the block (already float), take up to a block out.
void BM_RawSoundTouch(benchmark::State& state) {
  soundtouch::SoundTouch st;
  st.setSampleRate(44100);
  st.setChannels(1);
  st.setSetting(SETTING_USE_QUICKSEEK, 1);
  st.setSetting(SETTING_USE_AA_FILTER, 0);
  st.setSetting(SETTING_AA_FILTER_LENGTH, 64);
  st.setSetting(SETTING_SEQUENCE_MS, 45);
  st.setSetting(SETTING_SEEKWINDOW_MS, 26);
  st.setSetting(SETTING_OVERLAP_MS, 5);
  st.setPitch(2.0);
  st.setTempo(1.0);
  std::vector<std::vector<float>> blocks;
  for (const auto& b : speechBlocks()) {
    std::vector<float> f(kBlock);
    for (UInt32 i = 0; i < kBlock; ++i) f[i] = b[i] / 32768.0f;
    blocks.push_back(std::move(f));
  }
  std::vector<float> out(kBlock);
  std::size_t next = 0;
  for (auto _ : state) {
    st.putSamples(blocks[next].data(), kBlock);
    benchmark::DoNotOptimize(st.receiveSamples(out.data(), kBlock));
    next = (next + 1) % blocks.size();
  }
}
BENCHMARK(BM_RawSoundTouch);

// The engine recording the same blocks: the input callback (render copy, level, conversion,
// processor, append) and the output callback (silence while recording), as one device cycle.
// Speech never ends (threshold 0) and the write position is wound back before the buffer is
// full, so every cycle is a recording cycle.
void BM_CallbackPairRecording(benchmark::State& state) {
  auto device = setUpEngine();
  monitoringThreshold = 0;
  recordingThreshold = 0;
  const auto& blocks = speechBlocks();
  std::vector<std::int16_t> out(kBlock);
  std::size_t next = 0;
  for (auto _ : state) {
    device->runCycle(blocks[next].data(), out.data(), kBlock, 0.0);
    if (playbackEnd > 120000) playbackEnd = 0;
    next = (next + 1) % blocks.size();
  }
  benchmark::DoNotOptimize(out.data());
  platform::setAudioBackend(nullptr);
}
BENCHMARK(BM_CallbackPairRecording);

// Whole runs over the sample (listening, recording, the flush, playback): the distribution of
// the cost of one cycle. Reported in microseconds; a 1024-sample cycle lasts 23220 us.
void BM_CallbackPairTail(benchmark::State& state) {
  auto device = setUpEngine();
  const auto& s = sample();
  std::vector<std::int16_t> out(kBlock);
  std::vector<double> costs;
  costs.reserve(static_cast<std::size_t>(state.max_iterations) * (s.size() / kBlock + 1));
  for (auto _ : state) {
    for (std::size_t at = 0; at + kBlock <= s.size(); at += kBlock) {
      const auto t0 = std::chrono::steady_clock::now();
      device->runCycle(s.data() + at, out.data(), kBlock, 0.0);
      const auto t1 = std::chrono::steady_clock::now();
      costs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
  }
  std::sort(costs.begin(), costs.end());
  const auto at = [&](double q) { return costs[static_cast<std::size_t>(q * static_cast<double>(costs.size() - 1))]; };
  state.counters["cycles"] = static_cast<double>(costs.size());
  state.counters["median_us"] = at(0.5);
  state.counters["p99_us"] = at(0.99);
  state.counters["max_us"] = costs.back();
  platform::setAudioBackend(nullptr);
}
BENCHMARK(BM_CallbackPairTail)->Iterations(20)->Unit(benchmark::kMillisecond);

// The processor's set-up on a fresh processor: the engine's settings, then the warm-up that
// readies every buffer for the whole pitch and tempo range. Once per process, before audio.
void BM_ProcessorWarmUp(benchmark::State& state) {
  for (auto _ : state) {
    SoundTouchProcessor processor;
    processor.setSampleRate(44100);
    processor.setChannels(1);
    processor.setSetting(SETTING_USE_QUICKSEEK, 1);
    processor.setSetting(SETTING_USE_AA_FILTER, 0);
    processor.setSetting(SETTING_AA_FILTER_LENGTH, 64);
    processor.setSetting(SETTING_SEQUENCE_MS, 45);
    processor.setSetting(SETTING_SEEKWINDOW_MS, 26);
    processor.setSetting(SETTING_OVERLAP_MS, 5);
    processor.setPitch(2.0f);
    processor.setTempo(1.0f);
    processor.warmUp();
  }
}
BENCHMARK(BM_ProcessorWarmUp)->Unit(benchmark::kMillisecond);

// The input cycle that applies a new voice (pitch and tempo) while recording, against one that
// keeps it: the library's filter redesign, served from the reserved pool.
void BM_CycleWithVoiceChange(benchmark::State& state) {
  auto device = setUpEngine();
  monitoringThreshold = 0;
  recordingThreshold = 0;
  const bool change = state.range(0) != 0;
  const auto& blocks = speechBlocks();
  std::vector<std::int16_t> out(kBlock);
  std::size_t next = 0;
  bool flip = false;
  for (auto _ : state) {
    if (change) {
      flip = !flip;
      quibblePitch = flip ? 1.6f : 2.0f;
      quibbleTimeStretch = flip ? 1.3f : 1.0f;
    }
    device->runCycle(blocks[next].data(), out.data(), kBlock, 0.0);
    if (playbackEnd > 120000) playbackEnd = 0;
    next = (next + 1) % blocks.size();
  }
  quibblePitch = 2.0f;
  quibbleTimeStretch = 1.0f;
  platform::setAudioBackend(nullptr);
}
BENCHMARK(BM_CycleWithVoiceChange)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
