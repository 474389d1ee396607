#pragma once
// Where a headless run writes the character's answer: the loudspeaker WAV, numbered PNG frames,
// an MP4 whose sound track mixes the person and the character, and a per-frame log (tick, time,
// engine mode, mouth frame, selected character) that tests and curious people can read.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/png_frames.h"
#include "platform/video.h"

struct AnswerOutputPaths {
  std::optional<std::string> speaker;
  std::optional<std::string> framesDir;
  std::optional<std::string> video;
  std::optional<std::string> frameLog;
};

class AnswerOutputs {
 public:
  // Opens every picture output before anything runs, so a bad path fails at once. Null with
  // `error` set when one cannot be opened.
  static std::unique_ptr<AnswerOutputs> open(const AnswerOutputPaths& paths, int width, int height,
                                             std::string& error);
  ~AnswerOutputs();

  bool wantsFrames() const { return pngs_ || video_ || log_; }

  // One animation tick's composited frame (width × height RGBA, top row first).
  void addFrame(const std::uint8_t* rgba, double time, int mode, int mouthFrame, int character);

  // Writes the audio outputs and closes the video. `microphone` and `speaker` are aligned sample
  // for sample. Returns false with `error` set when any output failed; the others are still
  // written.
  bool finish(const std::vector<std::int16_t>& microphone,
              const std::vector<std::int16_t>& speaker, std::string& error);

  std::size_t framesAdded() const { return frames_; }

 private:
  AnswerOutputs() = default;
  AnswerOutputPaths paths_;
  std::unique_ptr<platform::PngFrameWriter> pngs_;
  std::unique_ptr<platform::VideoWriter> video_;
  std::FILE* log_ = nullptr;
  std::size_t frames_ = 0;
  std::string frameError_;
};

// The bystander's sound track: person and character summed, saturating.
std::vector<std::int16_t> mixForBystander(const std::vector<std::int16_t>& microphone,
                                          const std::vector<std::int16_t>& speaker);
