#pragma once
// Where a headless run writes the character's answer: the loudspeaker WAV, numbered PNG frames,
// an MP4 whose sound track mixes the person and the character, and a per-frame log (tick, time,
// engine mode, mouth frame, selected character) that tests and curious people can read.
//
// Every output is checked before the run starts and written to a temporary file (or folder)
// beside its final name as the run goes; finish() puts them all in place only when every one is
// complete. Whatever is not finished is removed, so a failed or interrupted run leaves nothing
// new behind and an earlier file at an output's path untouched.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "WavFile.h"
#include "platform/OutputFile.h"
#include "platform/PngFrames.h"
#include "platform/VideoWriter.h"

struct AnswerOutputPaths {
  std::optional<std::string> speaker;
  std::optional<std::string> framesDir;
  std::optional<std::string> video;
  std::optional<std::string> frameLog;
};

class AnswerOutputs {
 public:
  // Refuses an output whose folder is missing or not writable, one that is a folder (for
  // --frames: a folder holding anything but frames), and any output that is the recording
  // `input` or another output (compared as files, links followed). Then opens every output's
  // temporary file. Null with `error` set (one sentence) when an output is refused.
  static std::unique_ptr<AnswerOutputs> open(const AnswerOutputPaths& paths,
                                             const std::string& input, int width, int height,
                                             std::string& error);
  ~AnswerOutputs();
  AnswerOutputs(const AnswerOutputs&) = delete;
  AnswerOutputs& operator=(const AnswerOutputs&) = delete;

  // Frames or video need the pictures drawn; the frame log alone does not.
  bool wantsPictures() const { return pngs_ || video_; }
  bool wantsTicks() const { return wantsPictures() || log_; }

  // One animation tick. `rgba` is the composited frame (width × height, top row first); it may
  // be null when !wantsPictures().
  void addFrame(const std::uint8_t* rgba, double time, int mode, int mouthFrame, int character);
  // One audio cycle, aligned sample for sample: what the microphone fed and what the loudspeaker
  // got.
  void addAudio(const std::int16_t* microphone, const std::int16_t* speaker, std::size_t count);

  // Empty until an output fails; then why (the run can stop: nothing will be written).
  const std::string& error() const { return error_; }

  // Completes every output and moves them all into place. False with `error` set when any
  // failed; then none is left behind.
  bool finish(std::string& error);

  std::size_t framesAdded() const { return frames_; }

 private:
  AnswerOutputs() = default;
  void fail(const std::string& why);
  void fail(const platform::Status& status);  // when it failed

  AnswerOutputPaths given_;  // as the person gave them, for messages
  AnswerOutputPaths paths_;  // the final paths, links resolved
  // Written through these until finish() renames them into place (fd -1 once closed).
  platform::TemporaryFile speakerTemp_{-1, {}}, trackTemp_{-1, {}};
  std::string logTemp_, framesTemp_;
  std::unique_ptr<platform::WavStreamWriter> speaker_;
  std::unique_ptr<platform::WavStreamWriter> track_;
  std::vector<std::int16_t> mix_;
  std::unique_ptr<platform::FrameSeries> pngs_;
  std::unique_ptr<platform::VideoWriter> video_;
  std::FILE* log_ = nullptr;
  std::size_t frames_ = 0;
  std::string error_;
};

// The bystander's sound: person and character summed, saturating, into `mix`.
void mixForBystander(const std::int16_t* microphone, const std::int16_t* speaker,
                     std::size_t count, std::int16_t* mix);
