#include "AnswerOutputs.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "WavFile.h"

std::vector<std::int16_t> mixForBystander(const std::vector<std::int16_t>& microphone,
                                          const std::vector<std::int16_t>& speaker) {
  std::vector<std::int16_t> mix(std::max(microphone.size(), speaker.size()));
  for (std::size_t i = 0; i < mix.size(); ++i) {
    const int a = i < microphone.size() ? microphone[i] : 0;
    const int b = i < speaker.size() ? speaker[i] : 0;
    mix[i] = static_cast<std::int16_t>(std::clamp(a + b, -32768, 32767));
  }
  return mix;
}

std::unique_ptr<AnswerOutputs> AnswerOutputs::open(const AnswerOutputPaths& paths, int width,
                                                   int height, std::string& error) {
  std::unique_ptr<AnswerOutputs> out(new AnswerOutputs());
  out->paths_ = paths;
  if (paths.framesDir) {
    out->pngs_ = platform::PngFrameWriter::open(*paths.framesDir, width, height, error);
    if (!out->pngs_) return nullptr;
  }
  if (paths.video) {
    out->video_ = platform::VideoWriter::open(*paths.video, width, height, 24, error);
    if (!out->video_) return nullptr;
  }
  if (paths.frameLog) {
    out->log_ = std::fopen(paths.frameLog->c_str(), "w");
    if (!out->log_) {
      error = "cannot write " + *paths.frameLog + ": " + std::strerror(errno);
      return nullptr;
    }
    std::fputs("tick,time,mode,mouth_frame,character\n", out->log_);
  }
  return out;
}

AnswerOutputs::~AnswerOutputs() {
  if (log_) std::fclose(log_);
}

void AnswerOutputs::addFrame(const std::uint8_t* rgba, double time, int mode, int mouthFrame,
                             int character) {
  if (pngs_ && !pngs_->writeFrame(rgba) && frameError_.empty()) frameError_ = pngs_->error();
  if (video_ && !video_->writeFrame(rgba) && frameError_.empty()) {
    frameError_ = "the video encoder stopped taking frames";
  }
  if (log_) std::fprintf(log_, "%zu,%.6f,%d,%d,%d\n", frames_, time, mode, mouthFrame, character);
  ++frames_;
}

bool AnswerOutputs::finish(const std::vector<std::int16_t>& microphone,
                           const std::vector<std::int16_t>& speaker, std::string& error) {
  std::vector<std::string> problems;
  if (!frameError_.empty()) problems.push_back(frameError_);
  if (log_) {
    if (std::fclose(log_) != 0) problems.push_back("cannot finish " + *paths_.frameLog);
    log_ = nullptr;
  }
  if (paths_.speaker) {
    const std::string e = platform::writeMonoWav16(*paths_.speaker, speaker);
    if (!e.empty()) problems.push_back(e);
  }
  if (video_) {
    // The sound track goes through a temporary WAV beside the video.
    const std::string track = *paths_.video + ".track.wav";
    std::string e = platform::writeMonoWav16(track, mixForBystander(microphone, speaker));
    if (e.empty() && !video_->finish(track, e)) problems.push_back(e);
    if (!e.empty() && std::find(problems.begin(), problems.end(), e) == problems.end()) problems.push_back(e);
    std::error_code ec;
    std::filesystem::remove(track, ec);
    video_.reset();
  }
  if (problems.empty()) return true;
  error.clear();
  for (const auto& p : problems) error += (error.empty() ? "" : "; ") + p;
  return false;
}
