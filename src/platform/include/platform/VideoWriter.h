#pragma once
// Video output through the ffmpeg command-line tool: raw RGBA frames are piped into its standard
// input (arguments passed as a vector, never through a shell), then the sound track is muxed in.
// Everything is written to temporary files beside the output, which appears only when complete.
// A termination signal (platform/Interruption.h) makes a blocked write or wait give up and the
// encoder be killed.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Status.h"

namespace platform {

class VideoWriter {
 public:
  // Starts an encoder for frames of width × height RGBA bytes (top row first) at `fps`, into a
  // video-only temporary file next to `outputPath`. Fails when the folder is not writable or
  // ffmpeg cannot be started.
  static Result<std::unique_ptr<VideoWriter>> open(const std::string& outputPath, int width, int height,
                                                   int fps);
  ~VideoWriter();
  VideoWriter(const VideoWriter&) = delete;
  VideoWriter& operator=(const VideoWriter&) = delete;

  // Off the main thread a termination signal need not abandon the video: false lets writes and
  // waits finish, so a recording can still be kept while the app quits.
  void setInterruptible(bool interruptible) { interruptible_ = interruptible; }

  // One frame of width × height × 4 bytes. Fails when the encoder has gone away.
  Status writeFrame(const std::uint8_t* rgba);
  std::size_t framesWritten() const { return frames_; }

  // Closes the video and muxes `wavPath` (may be empty: no sound track) into a complete
  // temporary file, then reads it back (ffprobe): every frame, and the sound track, must be in
  // it, whatever ffmpeg's exit status said. Fails when anything failed.
  Status complete(const std::string& wavPath);
  // Renames the completed file into place.
  Status commit();
  // complete() then commit(). No partial output file is left behind on failure.
  Status finish(const std::string& wavPath);

 private:
  VideoWriter() = default;
  std::string output_;
  std::string videoOnly_;
  std::string log_;
  std::string complete_;
  std::string error_;  // why writeFrame() failed
  std::size_t frameBytes_ = 0;
  std::size_t frames_ = 0;
  int pipe_ = -1;
  int pid_ = -1;
  bool failed_ = false;
  bool interruptible_ = true;
};

// Runs a program with `args` (args[0] is the program, looked up on PATH), waiting for it to end.
// Its standard output and error go to `logPath` when given (else they are discarded). Returns
// its exit status, or -1 when it could not be started; a termination signal kills it.
int runProgram(const std::vector<std::string>& args, const std::string& logPath = "");

}  // namespace platform
