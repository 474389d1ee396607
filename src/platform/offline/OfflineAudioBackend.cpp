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

OfflineAudioBackend::OfflineAudioBackend(std::vector<std::int16_t> microphone, UInt32 framesPerCycle,
                                         RunLoop& loop)
    : DuplexAudioBackend(loop),
      microphone_(std::move(microphone)),
      frames_(checkedFrames(framesPerCycle)),
      trailing_(defaultTrailingCycles(framesPerCycle)) {
  in_.assign(frames_, 0);
  out_.assign(frames_, 0);
  setTrailingCycles(trailing_);
}

OfflineAudioBackend::~OfflineAudioBackend() {
  if (timer_) loop().cancelTimer(timer_);
}

UInt32 OfflineAudioBackend::defaultTrailingCycles(UInt32 framesPerCycle) {
  const UInt32 playbackBuffer = 132300;
  return 13 + (playbackBuffer + framesPerCycle - 1) / framesPerCycle + 2;
}

void OfflineAudioBackend::setTrailingCycles(UInt32 cycles) {
  trailing_ = cycles;
  // Room for the whole run up front, so cycles do not reallocate.
  const std::size_t cycles_total = (microphone_.size() + frames_ - 1) / frames_ + trailing_ + 1;
  fed_.reserve(cycles_total * frames_);
  speaker_.reserve(cycles_total * frames_);
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

void OfflineAudioBackend::cycle() {
  const std::size_t available = cursor_ < microphone_.size() ? microphone_.size() - cursor_ : 0;
  const std::size_t take = std::min<std::size_t>(available, frames_);
  if (take > 0) std::copy_n(microphone_.begin() + static_cast<std::ptrdiff_t>(cursor_), take, in_.begin());
  std::fill(in_.begin() + static_cast<std::ptrdiff_t>(take), in_.end(), 0);
  cursor_ += frames_;

  runCycle(in_.data(), out_.data(), frames_, loop().now());
  fed_.insert(fed_.end(), in_.begin(), in_.end());
  speaker_.insert(speaker_.end(), out_.begin(), out_.end());

  if (exhausted_) {
    ++trailingRun_;
  } else if (cursor_ >= microphone_.size()) {
    exhausted_ = true;
    if (onInputExhausted_) onInputExhausted_();
  }
  if (exhausted_ && !finished_ && runOver()) {
    finished_ = true;
    unitStop();
    if (onFinished_) onFinished_();
  }
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
