#pragma once
// Whole-file WAV I/O in the engine's one format: 16-bit signed PCM, mono, 44100 Hz.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Status.h"

typedef struct sf_private_tag SNDFILE;

namespace platform {

struct WavReadResult {
  std::vector<std::int16_t> samples;
  std::string error;  // empty on success; otherwise a sentence naming the file and the reason
  bool ok() const { return error.empty(); }
};

// Reads every sample. Refuses files that are missing or unreadable, not 16-bit mono 44100 Hz
// PCM (the message says how to convert them), or shorter than their header says.
WavReadResult readMonoWav16(const std::string& path);

// Opens a file for reading with the same checks as readMonoWav16; the caller closes it with
// sf_close. Null with `error` set when it is refused.
SNDFILE* openMonoWav16(const std::string& path, std::int64_t& frames, std::string& error);

// True when an open WAV file holds fewer samples than its header says.
bool wavTruncated(SNDFILE* file);

// Writes a 16-bit mono 44100 Hz WAV; returns an error sentence, or empty on success.
std::string writeMonoWav16(const std::string& path, const std::vector<std::int16_t>& samples);

// A 16-bit mono 44100 Hz WAV written block by block into a file descriptor the caller owns (and
// syncs and closes). `name` is the file's name in error sentences. Blocks are gathered and
// written kBatchSamples at a time, so a write error may surface a few blocks late, at the
// latest from close().
class WavStreamWriter {
 public:
  static constexpr std::size_t kBatchSamples = 32768;

  static Result<std::unique_ptr<WavStreamWriter>> open(int fd, const std::string& name);
  ~WavStreamWriter();
  WavStreamWriter(const WavStreamWriter&) = delete;
  WavStreamWriter& operator=(const WavStreamWriter&) = delete;
  // Fails once a block could not be written; later blocks are ignored.
  Status write(const std::int16_t* samples, std::size_t count);
  // Completes the header; fails when anything failed.
  Status close();

 private:
  WavStreamWriter(SNDFILE* file, std::string name) : file_(file), name_(std::move(name)) {}
  bool flush();
  SNDFILE* file_;
  std::vector<std::int16_t> batch_;
  std::string name_;
  std::string error_;  // the first failure
};

// The shell command that converts `path` into the engine's format, the name quoted for a POSIX
// shell so that pasting the hint never runs anything else.
std::string conversionHint(const std::string& path);
// `text` as one word for a POSIX shell.
std::string shellQuoted(const std::string& text);

}  // namespace platform
