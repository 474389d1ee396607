#include "OfflineAudioBackend.h"

#include <algorithm>
#include <stdexcept>

namespace platform {

namespace {
UInt32 checkedFrames(UInt32 frames) {
  if (frames == 0 || frames > DuplexAudioBackend::kMaxFramesPerCycle) {
    throw std::invalid_argument("frames per cycle must be 1.." +
                                std::to_string(DuplexAudioBackend::kMaxFramesPerCycle));
  }
  return frames;
}
}  // namespace

std::size_t SampleRecording::read(std::int16_t* samples, std::size_t count) {
  const std::size_t take = std::min(count, samples_.size() - cursor_);
  std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(cursor_), take, samples);
  cursor_ += take;
  return take;
}

OfflineAudioBackend::OfflineAudioBackend(std::unique_ptr<RecordingSource> microphone,
                                         UInt32 framesPerCycle, RunLoop& loop)
    : DuplexAudioBackend(loop),
      microphone_(std::move(microphone)),
      frames_(checkedFrames(framesPerCycle)),
      trailing_(defaultTrailingCycles(framesPerCycle)) {
  in_.assign(frames_, 0);
  next_.assign(frames_, 0);
  out_.assign(frames_, 0);
  nextCount_ = readAhead();
}

OfflineAudioBackend::OfflineAudioBackend(std::vector<std::int16_t> microphone,
                                         UInt32 framesPerCycle, RunLoop& loop)
    : OfflineAudioBackend(std::make_unique<SampleRecording>(std::move(microphone)),
                          framesPerCycle, loop) {}

OfflineAudioBackend::~OfflineAudioBackend() {
  if (timer_) loop().cancelTimer(timer_);
}

UInt32 OfflineAudioBackend::defaultTrailingCycles(UInt32 framesPerCycle) {
  const UInt32 playbackBuffer = 132300;
  return 13 + (playbackBuffer + framesPerCycle - 1) / framesPerCycle + 2;
}

OSStatus OfflineAudioBackend::deviceStart() {
  const double period = static_cast<double>(frames_) / 44100.0;
  timer_ = loop().addTimer(period, period, [this] { cycle(); });
  return 0;
}

void OfflineAudioBackend::deviceStop() {
  if (timer_) loop().cancelTimer(timer_);
  timer_ = 0;
}

// Fills next_ as far as the recording goes; a reader may return short blocks before its end.
std::size_t OfflineAudioBackend::readAhead() {
  std::size_t got = 0;
  while (got < frames_) {
    const std::size_t n = microphone_->read(next_.data() + got, frames_ - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

void OfflineAudioBackend::cycle() {
  std::swap(in_, next_);
  const std::size_t take = nextCount_;
  std::fill(in_.begin() + static_cast<std::ptrdiff_t>(take), in_.end(), 0);
  used_ += take;
  // Reading one cycle ahead tells this cycle whether it used the last sample.
  nextCount_ = exhausted_ || take < frames_ ? 0 : readAhead();

  runCycle(in_.data(), out_.data(), frames_, loop().now());
  if (sink_) {
    sink_(in_.data(), out_.data(), frames_);
  } else {
    fed_.insert(fed_.end(), in_.begin(), in_.end());
    speaker_.insert(speaker_.end(), out_.begin(), out_.end());
  }
  endOfRun();
}

// When the run ends: `trailing_` cycles after the cycle that used the last sample.
void OfflineAudioBackend::endOfRun() {
  if (exhausted_) {
    ++trailingRun_;
  } else if (nextCount_ == 0) {
    exhausted_ = true;
    if (onInputExhausted_) onInputExhausted_();
  }
  if (exhausted_ && !finished_ && runOver()) finish();
}

void OfflineAudioBackend::finish() {
  finished_ = true;
  unitStop();
  if (onFinished_) onFinished_();
}

void OfflineAudioBackend::setEndWhenIdle(std::function<bool()> idle, UInt32 tailCycles) {
  idle_ = std::move(idle);
  tailCycles_ = tailCycles;
}

bool OfflineAudioBackend::runOver() {
  if (!idleSince_ && idle_ && idle_()) idleSince_ = trailingRun_;
  if (idleSince_ && trailingRun_ >= *idleSince_ + tailCycles_) return true;
  return trailingRun_ >= trailing_;
}

}  // namespace platform
