#include "WavFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

namespace platform {

namespace {

struct SndfileCloser {
  void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

// The extensible header is the same samples under a longer format block.
bool isWav(const SF_INFO& info) {
  const int major = info.format & SF_FORMAT_TYPEMASK;
  return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX;
}

std::string describeFormat(const SF_INFO& info) {
  std::string subtype;
  switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: subtype = "8-bit PCM"; break;
    case SF_FORMAT_PCM_16: subtype = "16-bit PCM"; break;
    case SF_FORMAT_PCM_24: subtype = "24-bit PCM"; break;
    case SF_FORMAT_PCM_32: subtype = "32-bit PCM"; break;
    case SF_FORMAT_FLOAT: subtype = "32-bit float"; break;
    case SF_FORMAT_DOUBLE: subtype = "64-bit float"; break;
    default: subtype = "compressed or unusual encoding"; break;
  }
  const std::string major = isWav(info) ? "WAV" : "non-WAV";
  return major + ", " + subtype + ", " + std::to_string(info.channels) + " channel" +
         (info.channels == 1 ? "" : "s") + ", " + std::to_string(info.samplerate) + " Hz";
}

// libsndfile opens a file cut short without complaint; its header log notes the data chunk's
// real size as "data : <header> (should be <real>)".
bool truncated(SNDFILE* file) {
  char log[8192] = {};
  sf_command(file, SFC_GET_LOG_INFO, log, sizeof log);
  std::string_view text(log);
  const auto at = text.find("\ndata : ");
  if (at == std::string_view::npos) return false;
  const auto lineEnd = text.find('\n', at + 1);
  const std::string line(text.substr(at + 1, lineEnd == std::string_view::npos ? text.npos : lineEnd - at - 1));
  long long declared = 0;
  long long real = 0;
  if (std::sscanf(line.c_str(), "data : %lld (should be %lld)", &declared, &real) != 2) return false;
  // A streamed file declares 0 (or an enormous size) and holds more; only less is a cut.
  return real < declared && declared != 0xffffffffLL;
}

}  // namespace

bool wavTruncated(SNDFILE* file) { return truncated(file); }

std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string conversionHint(const std::string& path) {
  // A name starting with '-' would read as an option.
  const std::string safe = !path.empty() && path[0] == '-' ? "./" + path : path;
  return "convert it with: sox " + shellQuoted(safe) + " -r 44100 -b 16 -c 1 converted.wav";
}

SNDFILE* openMonoWav16(const std::string& path, std::int64_t& frames, std::string& error) {
  SF_INFO info{};
  SndfilePtr file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) {
    error = "cannot read '" + path + "': " + sf_strerror(nullptr);
    return nullptr;
  }
  const bool rightFormat = isWav(info) &&
                           (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 &&
                           info.channels == 1 && info.samplerate == 44100;
  if (!rightFormat) {
    error = "'" + path + "' is " + describeFormat(info) +
            "; it must be a 16-bit mono 44100 Hz PCM WAV file (" + conversionHint(path) + ")";
    return nullptr;
  }
  if (truncated(file.get())) {
    error = "'" + path + "' is truncated: it holds fewer samples than its header says";
    return nullptr;
  }
  frames = info.frames;
  return file.release();
}

WavReadResult readMonoWav16(const std::string& path) {
  WavReadResult result;
  std::int64_t frames = 0;
  SndfilePtr file(openMonoWav16(path, frames, result.error));
  if (!file) return result;
  result.samples.resize(static_cast<std::size_t>(frames));
  const sf_count_t got = sf_readf_short(file.get(), result.samples.data(), frames);
  if (got != frames) {
    result.samples.clear();
    result.error = "'" + path + "' could not be read to its end: " + sf_strerror(file.get());
  }
  return result;
}

std::string writeMonoWav16(const std::string& path, const std::vector<std::int16_t>& samples) {
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SndfilePtr file(sf_open(path.c_str(), SFM_WRITE, &info));
  if (!file) return "cannot write '" + path + "': " + sf_strerror(nullptr);
  const auto count = static_cast<sf_count_t>(samples.size());
  if (sf_writef_short(file.get(), samples.data(), count) != count) {
    return "cannot write '" + path + "': " + sf_strerror(file.get());
  }
  if (sf_close(file.release()) != 0) return "cannot finish writing '" + path + "'";
  return {};
}

Result<std::unique_ptr<WavStreamWriter>> WavStreamWriter::open(int fd, const std::string& name) {
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  errno = 0;
  SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
  if (!file) return fail("cannot write " + name + ": " + (errno ? std::strerror(errno) : sf_strerror(nullptr)));
  return std::unique_ptr<WavStreamWriter>(new WavStreamWriter(file, name));
}

WavStreamWriter::~WavStreamWriter() {
  if (file_) sf_close(file_);
}

Status WavStreamWriter::write(const std::int16_t* samples, std::size_t count) {
  if (!error_.empty() || !file_) return fail(error_);
  if (batch_.capacity() < kBatchSamples) batch_.reserve(kBatchSamples);
  while (count > 0) {
    const std::size_t take = std::min(count, kBatchSamples - batch_.size());
    batch_.insert(batch_.end(), samples, samples + take);
    samples += take;
    count -= take;
    if (batch_.size() == kBatchSamples && !flush()) return fail(error_);
  }
  return {};
}

bool WavStreamWriter::flush() {
  if (batch_.empty()) return error_.empty();
  errno = 0;
  const auto want = static_cast<sf_count_t>(batch_.size());
  const sf_count_t wrote = sf_writef_short(file_, batch_.data(), want);
  batch_.clear();
  if (wrote != want) {
    // libsndfile keeps the system's reason in errno; its own text is vaguer.
    error_ = "cannot write " + name_ + ": " + (errno ? std::strerror(errno) : sf_strerror(file_));
    return false;
  }
  return true;
}

Status WavStreamWriter::close() {
  if (!file_) return error_.empty() ? Status() : fail(error_);
  if (error_.empty()) flush();
  errno = 0;
  sf_write_sync(file_);
  const int status = sf_close(file_);
  file_ = nullptr;
  if (status != 0 && error_.empty()) {
    error_ = "cannot finish " + name_ + ": " + (errno ? std::strerror(errno) : sf_error_number(status));
  }
  return error_.empty() ? Status() : fail(error_);
}

}  // namespace platform
