#pragma once
// A recording read block by block as the engine's samples (16-bit mono 44100 Hz), so a long
// file is never held in memory whole.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Status.h"

namespace platform {

class RecordingSource {
 public:
  virtual ~RecordingSource() = default;
  // Fills up to `count` samples and returns how many it wrote; 0 at the end of the recording or
  // after a read error (then error() says why: a count is the answer, as with read(2)).
  virtual std::size_t read(std::int16_t* samples, std::size_t count) = 0;
  // Samples in the whole recording, when known before reading it all.
  virtual std::optional<std::uint64_t> length() const = 0;
  // Empty unless a read failed.
  virtual const std::string& error() const = 0;
};

// Opens `path` for reading; a failure names the file and the reason it cannot be read. `note`
// is set when the recording is converted on the way in.
Result<std::unique_ptr<RecordingSource>> openRecording(const std::string& path, std::string& note);

}  // namespace platform
