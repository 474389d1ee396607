#pragma once
// Whole-file WAV I/O in the engine's one format: 16-bit signed PCM, mono, 44100 Hz.
#include <cstdint>
#include <string>
#include <vector>

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

// The shell command that converts `path` into the engine's format.
std::string conversionHint(const std::string& path);

}  // namespace platform
