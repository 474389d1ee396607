#pragma once
// An audio device whose microphone is a recording and whose loudspeaker is a sink. Every I/O
// cycle is a repeating run-loop timer of period F / 44100 s: it pulls the next F microphone
// samples from the recording (silence once it runs out), feeds them to the input callback and
// hands what the render callback gave the loudspeaker to the sink. On a loop in virtual time a
// run is deterministic and as fast as the CPU allows, and other timers (the animation)
// interleave with the cycles by their due times. Nothing grows with the recording's length.
//
// Stopping the unit pauses the cycles; starting it resumes them. After the microphone samples
// are exhausted the device runs at most trailingCycles() more cycles, then stops itself and
// reports that it has finished. The default tail, 13 blocks of end-of-speech detection plus a
// full 3 s playback buffer plus 2 spare blocks (3.4 s at F = 1024), is long enough for the
// answer to the last utterance to play out. With an idle check it ends sooner: a few cycles
// after the engine has nothing left to record or play.
#include <cstdint>
#include <functional>
#include <optional>
#include <memory>
#include <vector>

#include "DuplexAudioBackend.h"
#include "platform/RecordingSource.h"

namespace platform {

// A recording held in memory (tests, short clips).
class SampleRecording : public RecordingSource {
 public:
  explicit SampleRecording(std::vector<std::int16_t> samples) : samples_(std::move(samples)) {}
  std::size_t read(std::int16_t* samples, std::size_t count) override;
  std::optional<std::uint64_t> length() const override { return samples_.size(); }
  const std::string& error() const override { return error_; }

 private:
  std::vector<std::int16_t> samples_;
  std::size_t cursor_ = 0;
  std::string error_;
};

class OfflineAudioBackend : public DuplexAudioBackend {
 public:
  static constexpr UInt32 kDefaultFramesPerCycle = 1024;
  // One cycle's samples, aligned sample for sample: what the microphone fed (including the
  // silence after its end) and what the loudspeaker got.
  using CycleSink = std::function<void(const std::int16_t* fed, const std::int16_t* speaker,
                                       std::size_t frames)>;

  // `framesPerCycle` is F, 1..3072.
  explicit OfflineAudioBackend(std::unique_ptr<RecordingSource> microphone,
                               UInt32 framesPerCycle = kDefaultFramesPerCycle,
                               RunLoop& loop = RunLoop::main());
  explicit OfflineAudioBackend(std::vector<std::int16_t> microphone,
                               UInt32 framesPerCycle = kDefaultFramesPerCycle,
                               RunLoop& loop = RunLoop::main());
  ~OfflineAudioBackend() override;

  static UInt32 defaultTrailingCycles(UInt32 framesPerCycle);
  UInt32 framesPerCycle() const { return frames_; }
  UInt32 trailingCycles() const { return trailing_; }
  void setTrailingCycles(UInt32 cycles) { trailing_ = cycles; }
  // Once the input is exhausted and `idle` (asked after each cycle) holds, `tailCycles` more
  // cycles run and the device finishes, within trailingCycles() in any case.
  void setEndWhenIdle(std::function<bool()> idle, UInt32 tailCycles);

  // Called on the loop, from the cycle in which the condition arises.
  void setOnInputExhausted(std::function<void()> handler) { onInputExhausted_ = std::move(handler); }
  void setOnFinished(std::function<void()> handler) { onFinished_ = std::move(handler); }
  bool inputExhausted() const { return exhausted_; }
  bool finished() const { return finished_; }

  // Receives every cycle from now on. Without a sink the device keeps every cycle in
  // microphoneFed() and speakerOutput() (tests and short clips).
  void setCycleSink(CycleSink sink) { sink_ = std::move(sink); }
  const std::vector<std::int16_t>& microphoneFed() const { return fed_; }
  const std::vector<std::int16_t>& speakerOutput() const { return speaker_; }

  // Microphone samples taken from the recording so far, and its length when known.
  std::uint64_t microphoneSamplesUsed() const { return used_; }
  std::optional<std::uint64_t> microphoneSampleCount() const { return microphone_->length(); }
  // Empty unless reading the recording failed (the input then counts as exhausted).
  const std::string& microphoneError() const { return microphone_->error(); }

 protected:
  std::string deviceRoute() const override { return "WaveFileInAndWaveFileOut"; }
  OSStatus deviceStart() override;
  void deviceStop() override;

 private:
  void cycle();
  bool runOver();
  std::size_t readAhead();
  void endOfRun();
  void finish();

  std::unique_ptr<RecordingSource> microphone_;
  UInt32 frames_;
  UInt32 trailing_;
  std::vector<std::int16_t> in_;
  std::vector<std::int16_t> next_;  // the following cycle's input, read one cycle early
  std::size_t nextCount_ = 0;
  std::vector<std::int16_t> out_;
  std::vector<std::int16_t> fed_;
  std::vector<std::int16_t> speaker_;
  std::uint64_t used_ = 0;
  UInt32 trailingRun_ = 0;
  std::function<bool()> idle_;
  UInt32 tailCycles_ = 0;
  std::optional<UInt32> idleSince_;  // the trailing cycle in which the engine was first idle
  bool exhausted_ = false;
  bool finished_ = false;
  RunLoop::Id timer_ = 0;
  CycleSink sink_;
  std::function<void()> onInputExhausted_;
  std::function<void()> onFinished_;
};

}  // namespace platform
