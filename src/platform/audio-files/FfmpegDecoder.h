#pragma once
// ffmpeg decoding a recording libsndfile does not read (M4A/AAC and the like) into a pipe, as
// 32-bit float AU at the file's own rate and channel count: the header comes first and says
// both, so the samples stream without a length.
#include <sys/types.h>

#include <memory>
#include <string>

namespace platform {

class FfmpegDecoder {
 public:
  // Starts ffmpeg (found on PATH) on `path`. Null with `error` set when it cannot be started.
  static std::unique_ptr<FfmpegDecoder> start(const std::string& path, std::string& error);
  // Stops ffmpeg if it still runs.
  ~FfmpegDecoder();
  FfmpegDecoder(const FfmpegDecoder&) = delete;
  FfmpegDecoder& operator=(const FfmpegDecoder&) = delete;

  // The pipe's read end, handed over once; the caller closes it.
  int takeOutput();
  // Waits for ffmpeg to end. Empty when it succeeded, else what went wrong, in one line.
  std::string finish();

 private:
  FfmpegDecoder() = default;
  std::string path_;
  pid_t pid_ = -1;
  int output_ = -1;
  int errors_ = -1;  // an anonymous file holding what ffmpeg printed
};

}  // namespace platform
