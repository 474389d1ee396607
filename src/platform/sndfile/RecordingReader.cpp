// Recordings in the engine's own format, read through libsndfile block by block.
#include <sndfile.h>

#include "WavFile.h"
#include "platform/recording.h"

namespace platform {

namespace {

class SndfileRecording : public RecordingSource {
 public:
  SndfileRecording(SNDFILE* file, sf_count_t frames) : file_(file), frames_(frames) {}
  ~SndfileRecording() override { sf_close(file_); }

  std::size_t read(std::int16_t* samples, std::size_t count) override {
    if (!error_.empty()) return 0;
    const sf_count_t got = sf_readf_short(file_, samples, static_cast<sf_count_t>(count));
    if (got < 0 || (got == 0 && sf_error(file_) != SF_ERR_NO_ERROR)) {
      error_ = std::string("reading stopped: ") + sf_strerror(file_);
      return 0;
    }
    return static_cast<std::size_t>(got);
  }
  std::optional<std::uint64_t> length() const override {
    return static_cast<std::uint64_t>(frames_);
  }
  const std::string& error() const override { return error_; }

 private:
  SNDFILE* file_;
  sf_count_t frames_;
  std::string error_;
};

}  // namespace

std::unique_ptr<RecordingSource> openRecording(const std::string& path, std::string& error,
                                               std::string& note) {
  note.clear();
  std::int64_t frames = 0;
  SNDFILE* file = openMonoWav16(path, frames, error);
  if (!file) return nullptr;
  return std::make_unique<SndfileRecording>(file, frames);
}

}  // namespace platform
