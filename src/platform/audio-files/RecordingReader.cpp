// Recordings in any format libsndfile reads, and through ffmpeg in any other, read block by
// block as the engine's samples: channels averaged to one, the rate converted by libsoxr.
#include <fcntl.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "ByteStream.h"
#include "FfmpegDecoder.h"
#include "WavFile.h"
#include "platform/RecordingSource.h"

namespace platform {

namespace {

constexpr int kEngineRate = 44100;
constexpr sf_count_t kBlockFrames = 4096;
// Beyond these a file is more likely damaged than a recording.
constexpr int kLowestRate = 1000;
constexpr int kHighestRate = 768000;

bool integerPcm(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32: return true;
    default: return false;
  }
}

bool engineFormat(const SF_INFO& info) {
  const int major = info.format & SF_FORMAT_TYPEMASK;
  return (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX) &&
         (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 && info.channels == 1 &&
         info.samplerate == kEngineRate;
}

std::string formatName(int format) {
  SF_FORMAT_INFO major{format & SF_FORMAT_TYPEMASK, nullptr, nullptr};
  SF_FORMAT_INFO sub{format & SF_FORMAT_SUBMASK, nullptr, nullptr};
  sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof major);
  sf_command(nullptr, SFC_GET_FORMAT_INFO, &sub, sizeof sub);
  std::string name = major.name ? major.name : "unknown format";
  name = name.substr(0, name.find(" ("));  // "WAV (Microsoft)" -> "WAV"
  return sub.name ? name + ", " + sub.name : name;
}

std::string layout(int channels, int rate) {
  return std::to_string(channels) + (channels == 1 ? " channel, " : " channels, ") +
         std::to_string(rate) + " Hz";
}

std::string withoutFullStop(std::string text) {
  while (!text.empty() && (text.back() == '.' || text.back() == '\n')) text.pop_back();
  return text;
}

class Recording : public RecordingSource {
 public:
  Recording(std::unique_ptr<ByteStream> stream, SNDFILE* file, const SF_INFO& info,
            std::unique_ptr<FfmpegDecoder> decoder)
      : stream_(std::move(stream)), file_(file), decoder_(std::move(decoder)), channels_(info.channels) {
    direct_ = info.channels == 1 && info.samplerate == kEngineRate && integerPcm(info.format);
    // An MP3's frame count may be an estimate, and a count of 0 may mean "not written": only an
    // exact count is promised (and enforced: see pullBlock).
    const bool lengthKnown = stream_->seekable() && !decoder_ && info.frames > 0 &&
                             info.frames < (SF_COUNT_MAX >> 20) &&
                             (info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_MPEG;
    if (lengthKnown) {
      expected_ = info.samplerate == kEngineRate
                      ? static_cast<std::uint64_t>(info.frames)
                      : static_cast<std::uint64_t>(std::llround(static_cast<double>(info.frames) *
                                                                kEngineRate / info.samplerate));
    }
    if (!direct_) {
      in_.resize(static_cast<std::size_t>(kBlockFrames) * static_cast<std::size_t>(channels_));
      mono_.resize(static_cast<std::size_t>(kBlockFrames));
    }
    if (info.samplerate != kEngineRate) {
      soxr_error_t why = nullptr;
      const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
      const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
      resampler_ = soxr_create(info.samplerate, kEngineRate, 1, &why, &io, &quality, nullptr);
      if (!resampler_) error_ = std::string("cannot convert the sample rate: ") + why;
      resampled_.resize(static_cast<std::size_t>(kBlockFrames) * 4);
    }
  }

  ~Recording() override {
    if (resampler_) soxr_delete(resampler_);
    sf_close(file_);
  }

  std::size_t read(std::int16_t* samples, std::size_t count) override {
    if (!error_.empty()) return 0;
    if (direct_) return readDirect(samples, count);
    std::size_t written = 0;
    while (written < count && error_.empty()) {
      if (taken_ < pending_.size()) {
        const std::size_t n = std::min(count - written, pending_.size() - taken_);
        std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(taken_), n, samples + written);
        taken_ += n;
        written += n;
        continue;
      }
      if (done_) break;
      pending_.clear();
      taken_ = 0;
      pullBlock();
    }
    return written;
  }

  std::optional<std::uint64_t> length() const override { return expected_; }
  const std::string& error() const override { return error_; }

 private:
  // The engine's own format, and other integer PCM at its rate: libsndfile's samples as they are.
  std::size_t readDirect(std::int16_t* samples, std::size_t count) {
    if (expected_) count = static_cast<std::size_t>(std::min<std::uint64_t>(count, *expected_ - produced_));
    if (count == 0) return 0;
    const sf_count_t got = sf_readf_short(file_, samples, static_cast<sf_count_t>(count));
    const std::size_t n = got > 0 ? static_cast<std::size_t>(got) : 0;
    produced_ += n;
    if (n < count) {
      noteFailure();
      if (error_.empty()) noteShortfall();
    }
    return n;
  }

  // A file that ends cleanly well before the length its header gives is cut short (libsndfile
  // does not say so for every format).
  void noteShortfall() {
    // A resampler may end a few samples either side of the exact length.
    const std::uint64_t slack = resampler_ ? 64 : 0;
    if (expected_ && produced_ + slack < *expected_) {
      error_ = "reading stopped: the file ends before the length its header gives (cut short?)";
    }
  }

  void noteFailure() {
    const std::string why = stream_->failure();
    if (!why.empty()) {
      error_ = "reading stopped: " + why;
    } else if (sf_error(file_) != SF_ERR_NO_ERROR) {
      error_ = "reading stopped: " + withoutFullStop(sf_strerror(file_));
    } else if (decoder_) {
      const std::string failed = decoder_->finish();
      if (!failed.empty()) error_ = "reading stopped: ffmpeg: " + failed;
    }
  }

  void pullBlock() {
    if (!inputEnded_) {
      const sf_count_t frames = sf_readf_float(file_, in_.data(), kBlockFrames);
      if (frames > 0) {
        const auto n = static_cast<std::size_t>(frames);
        for (std::size_t i = 0; i < n; ++i) {
          float sum = 0;
          for (int c = 0; c < channels_; ++c) sum += in_[i * static_cast<std::size_t>(channels_) + static_cast<std::size_t>(c)];
          mono_[i] = sum / static_cast<float>(channels_);
        }
        resampler_ ? resample(mono_.data(), n) : keep(mono_.data(), n);
        return;
      }
      inputEnded_ = true;
      noteFailure();
      if (!error_.empty()) return;
    }
    if (resampler_) {
      // The input is over: what the resampler still holds.
      std::size_t out = 0;
      const soxr_error_t why = soxr_process(resampler_, nullptr, 0, nullptr, resampled_.data(),
                                            resampled_.size(), &out);
      if (why) error_ = std::string("converting the sample rate failed: ") + why;
      keep(resampled_.data(), out);
      if (out > 0 && error_.empty()) return;
    }
    // A resampler's last sample can land either side of the exact length; the length promised
    // is what the reader gets, unless the file is plainly cut short.
    noteShortfall();
    if (!error_.empty()) return;
    if (expected_ && produced_ < *expected_) pending_.resize(pending_.size() + (*expected_ - produced_), 0);
    done_ = true;
  }

  void resample(const float* in, std::size_t n) {
    std::size_t used = 0;
    for (;;) {
      std::size_t took = 0;
      std::size_t out = 0;
      const soxr_error_t why = soxr_process(resampler_, in + used, n - used, &took,
                                            resampled_.data(), resampled_.size(), &out);
      if (why) {
        error_ = std::string("converting the sample rate failed: ") + why;
        return;
      }
      keep(resampled_.data(), out);
      used += took;
      if ((used >= n && out < resampled_.size()) || (took == 0 && out == 0)) return;
    }
  }

  // Saturating, rounded, and never past the promised length.
  void keep(const float* samples, std::size_t n) {
    if (expected_) n = static_cast<std::size_t>(std::min<std::uint64_t>(n, *expected_ - std::min(*expected_, produced_)));
    for (std::size_t i = 0; i < n; ++i) {
      const float scaled = std::clamp(samples[i] * 32768.0f, -32768.0f, 32767.0f);
      pending_.push_back(static_cast<std::int16_t>(std::lrintf(scaled)));
    }
    produced_ += n;
  }

  std::unique_ptr<ByteStream> stream_;
  SNDFILE* file_;
  std::unique_ptr<FfmpegDecoder> decoder_;
  int channels_;
  bool direct_ = false;
  std::optional<std::uint64_t> expected_;
  soxr_t resampler_ = nullptr;
  std::vector<float> in_;
  std::vector<float> mono_;
  std::vector<float> resampled_;
  std::vector<std::int16_t> pending_;
  std::size_t taken_ = 0;
  std::uint64_t produced_ = 0;
  bool inputEnded_ = false;
  bool done_ = false;
  std::string error_;
};

Result<std::unique_ptr<RecordingSource>> openWithFfmpeg(const std::string& path, const std::string& sndfileWhy,
                                                        std::string& note) {
  std::string startError;
  auto decoder = FfmpegDecoder::start(path, startError);
  if (!decoder) {
    return fail("cannot read '" + path + "': " + sndfileWhy + "; " + startError);
  }
  auto stream = std::make_unique<ByteStream>(decoder->takeOutput());
  SF_INFO info{};
  SNDFILE* file = sf_open_virtual(stream->io(), SFM_READ, &info, stream.get());
  if (!file) {
    const std::string why = stream->failure().empty() ? decoder->finish() : stream->failure();
    return fail("cannot read '" + path + "': not a recording libsndfile or ffmpeg can read (" +
                (why.empty() ? "no sound in it" : why) + ")");
  }
  note = "converting '" + path + "' (decoded by ffmpeg: " + layout(info.channels, info.samplerate) +
         ") to 16-bit mono 44100 Hz";
  return std::make_unique<Recording>(std::move(stream), file, info, std::move(decoder));
}

}  // namespace

Result<std::unique_ptr<RecordingSource>> openRecording(const std::string& path, std::string& note) {
  note.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return fail("cannot read '" + path + "': " + std::strerror(errno));
  }
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    return fail("cannot read '" + path + "': it is a folder");
  }
  auto stream = std::make_unique<ByteStream>(fd);
  SF_INFO info{};
  SNDFILE* file = sf_open_virtual(stream->io(), SFM_READ, &info, stream.get());
  if (!file) {
    const std::string why = stream->failure().empty() ? withoutFullStop(sf_strerror(nullptr)) : stream->failure();
    if (!stream->failure().empty() || !stream->seekable()) {
      // A pipe's first bytes are gone: ffmpeg cannot have another look.
      return fail("cannot read '" + path + "': " + why +
                  (stream->seekable() ? "" : " (from a pipe only WAV, FLAC, Ogg and MP3 can be read)"));
    }
    stream.reset();
    return openWithFfmpeg(path, why, note);
  }
  const int major = info.format & SF_FORMAT_TYPEMASK;
  const bool cut = (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX) && wavTruncated(file);
  const bool rateOk = info.samplerate >= kLowestRate && info.samplerate <= kHighestRate;
  if (cut || !rateOk) {
    sf_close(file);
    return fail(cut ? "'" + path + "' is truncated: it holds fewer samples than its header says"
                    : "'" + path + "' says its sample rate is " + std::to_string(info.samplerate) +
                          " Hz; recordings of " + std::to_string(kLowestRate) + " to " +
                          std::to_string(kHighestRate) + " Hz can be read");
  }
  if (!engineFormat(info)) {
    note = "converting '" + path + "' (" + formatName(info.format) + ", " +
           layout(info.channels, info.samplerate) + ") to 16-bit mono 44100 Hz";
  }
  auto recording = std::make_unique<Recording>(std::move(stream), file, info, nullptr);
  if (!recording->error().empty()) {
    return fail("cannot read '" + path + "': " + recording->error());
  }
  return recording;
}

}  // namespace platform
