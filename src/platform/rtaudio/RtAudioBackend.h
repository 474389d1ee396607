#pragma once
// The live audio device: one RtAudio duplex stream, 16-bit mono 44100 Hz in and out, 1024-frame
// buffers, whose one callback thread runs each I/O cycle (split into pieces of at most 3072
// frames). The session's route is the two devices' names. An interruption is the stream
// failing or falling silent: the listeners hear "begin", the back end keeps trying to reopen
// the devices once a second, and "end" follows when they are back.
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "AudioDeviceList.h"
#include "DuplexAudioBackend.h"

class RtAudio;

namespace platform {

class RtAudioBackend : public DuplexAudioBackend {
 public:
  static constexpr unsigned kBufferFrames = 1024;

  // `input`/`output`: a device name (or part of one) or number; none for the defaults.
  RtAudioBackend(std::optional<std::string> input, std::optional<std::string> output,
                 RunLoop& loop = RunLoop::main());
  ~RtAudioBackend() override;

  // Finds the audio system and the two devices. Returns an empty string when they are there,
  // else one sentence saying what is missing.
  std::string probe();
  const std::string& inputName() const { return inputName_; }
  const std::string& outputName() const { return outputName_; }
  const std::string& apiName() const { return system_.apiName; }
  bool interrupted() const { return interrupted_; }

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
  void watch();
  void failed(const std::string& why);
  void tryToRecover();
  void closeStream();

  std::optional<std::string> wantedInput_;
  std::optional<std::string> wantedOutput_;
  AudioSystem system_;
  unsigned inputId_ = 0;
  unsigned outputId_ = 0;
  std::string inputName_;
  std::string outputName_;
  std::unique_ptr<RtAudio> audio_;
  bool interrupted_ = false;
  RunLoop::Id watchTimer_ = 0;
  RunLoop::Id recoveryTimer_ = 0;
  std::uint64_t lastCycles_ = 0;
  double lastProgress_ = 0.0;
  std::atomic<bool> streamError_{false};
};

}  // namespace platform
