#pragma once
// Records the window as a person sees and hears it: the composited picture (without the
// on-screen controls, which the caller leaves out) and the bystander's sound (microphone and
// loudspeaker mixed, taken from the audio back end through a preallocated ring), encoded as
// --video encodes, into "FOLDER/YYYY-MM-DD HH.MM.SS.mp4".
//
// The main thread hands frames over through a small pool of preallocated buffers; an encoder
// thread writes them and the sound, so neither the main thread nor the audio thread waits for
// the encoder. When it falls behind, pictures are dropped (the next one fills their frames) and
// counted. The file appears only when complete; a failed take leaves nothing behind.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DuplexAudioBackend.h"
#include "platform/RunLoop.h"
#include "platform/SampleRing.h"

class WindowRecorder {
 public:
  static constexpr int kFramesPerSecond = 24;
  static constexpr double kLongestSeconds = 600;

  // Reports the end of a take on the loop: the saved file, or why there is none.
  using Done = std::function<void(bool saved, const std::string& pathOrError)>;

  WindowRecorder(platform::DuplexAudioBackend& audio, int width, int height, platform::RunLoop& loop);
  // Finishes a take under way (waiting at most `kQuitSeconds`).
  ~WindowRecorder();
  WindowRecorder(const WindowRecorder&) = delete;
  WindowRecorder& operator=(const WindowRecorder&) = delete;

  // The user's videos folder (xdg-user-dirs' VIDEOS, else ~/Videos) + "/Quibblers".
  static std::string defaultFolder();

  // Starts a take into `folder` (created when missing). False with `error` set.
  bool start(const std::string& folder, double now, std::string& error);
  bool recording() const { return worker_.joinable() && !stopping_; }
  double elapsed(double now) const { return now - startTime_; }

  // Main thread, once per tick while recording: whether the picture is due, then the picture.
  bool frameDue(double now) const;
  void addFrame(const std::uint8_t* rgba, double now);

  // Why the encoder gave up while recording, or empty. The caller then stops.
  std::string failure() const;

  // Ends the take; the file is completed off the main thread and `done` called on the loop.
  void stop(Done done);
  // Waits at most `seconds` for a stopped take to be completed; true when it was (its `done`
  // is then posted to the loop).
  bool waitForFile(double seconds);

  // Of the take under way or the last one: frames the encoder got, pictures skipped because it
  // was behind, and frames that repeated the picture before (skipped or late ones).
  std::uint64_t framesWritten() const;
  std::uint64_t framesDropped() const;
  std::uint64_t framesRepeated() const;
  std::uint64_t samplesDropped() const { return ring_.dropped(); }

  static constexpr double kQuitSeconds = 4.5;

 private:
  struct Take;
  void encode(std::shared_ptr<Take> take);

  platform::DuplexAudioBackend& audio_;
  const int width_, height_;
  platform::RunLoop& loop_;
  platform::SampleRing ring_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::vector<std::vector<std::uint8_t>> buffers_;
  std::vector<int> free_;
  struct Queued {
    int buffer;
    std::uint64_t index;
  };
  std::deque<Queued> queue_;
  bool stopping_ = false;
  bool done_ = true;
  std::string failure_;
  std::uint64_t dropped_ = 0;
  std::uint64_t written_ = 0;
  std::uint64_t repeated_ = 0;
  Done stopDone_;

  std::thread worker_;
  double startTime_ = 0;
  std::uint64_t framesSent_ = 0;  // frame indices handed over or skipped
};
