#pragma once
// The live audio device: 16-bit mono 44100 Hz in and out, 1024-frame cycles on one I/O thread.
// On a PulseAudio server (or PipeWire's PulseAudio service) it uses libpulse directly, with
// small device buffers; on ALSA or JACK, one RtAudio duplex stream. The session's route is the
// two devices' names. An interruption is the stream failing or falling silent: the listeners
// hear "begin", the back end looks for the devices twice a second, and "end" follows when they
// are back. Without a device chosen by name it follows the server's defaults.
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "AudioDeviceList.h"
#include "DuplexAudioBackend.h"

class RtAudio;

namespace platform {

class PulseConnection;
class PulseStream;

class RtAudioBackend : public DuplexAudioBackend {
 public:
  static constexpr unsigned kBufferFrames = 1024;

  // `input`/`output`: a device name, description, part of one, or number; none for the defaults.
  RtAudioBackend(std::optional<std::string> input, std::optional<std::string> output,
                 RunLoop& loop = RunLoop::main());
  ~RtAudioBackend() override;

  // Finds the audio system and the two devices. Returns an empty string when they are there,
  // else one sentence saying what is missing. `canWait()` then tells a sound server that runs
  // but has no device on a side left to its default (one may come) from no server at all or a
  // device name that matches nothing.
  std::string probe();
  bool canWait() const { return serverFound_; }
  // The devices' descriptions, with their own names where those differ.
  std::string inputName() const;
  std::string outputName() const;
  const std::string& apiName() const { return system_.apiName; }
  bool interrupted() const { return interrupted_; }
  // Instead of failing a start without devices: says `why` in one line and opens them once they
  // appear; the unit's start waits until then.
  void waitForDevices(const std::string& why);
  // Times the loudspeaker ran out of sound after the stream had started. Any thread.
  std::uint64_t underruns() const;

  // The stream callback: one device block through runCycle. Public for tests.
  static int streamCallback(void* outputBuffer, void* inputBuffer, unsigned int frames,
                            double streamTime, unsigned int status, void* self);

 protected:
  std::string deviceRoute() const override;
  OSStatus deviceOpen() override;
  OSStatus deviceStart() override;
  void deviceStop() override;
  void deviceClose() override;

 private:
  bool usesPulse() const;
  std::string openStream();
  bool startStream();
  void stopStream();
  void closeStream();
  void watch();
  bool switchDevices(const char* what);
  void failed(const std::string& why);
  void tryToRecover();
  std::string goneReason();

  std::optional<std::string> wantedInput_;
  std::optional<std::string> wantedOutput_;
  AudioSystem system_;
  AudioDevice input_{};
  AudioDevice output_{};
  bool serverFound_ = false;
  std::unique_ptr<PulseConnection> pulse_;
  std::unique_ptr<PulseStream> pulseStream_;
  std::unique_ptr<RtAudio> audio_;
  bool interrupted_ = false;
  RunLoop::Id watchTimer_ = 0;
  RunLoop::Id recoveryTimer_ = 0;
  std::uint64_t lastCycles_ = 0;
  double lastProgress_ = 0.0;
  std::atomic<bool> streamError_{false};
  std::atomic<std::uint64_t> rtUnderruns_{0};
  std::uint64_t earlierUnderruns_ = 0;  // of streams already closed
};

}  // namespace platform
