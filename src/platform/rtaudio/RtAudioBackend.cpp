#include "RtAudioBackend.h"

#include <RtAudio.h>

#include "platform/log.h"

namespace platform {

namespace {
// RtAudio's error callback carries no user data; there is one live back end at a time.
std::atomic<std::atomic<bool>*> currentError{nullptr};

// Called on the stream thread: only flag it; the watch timer reacts on the main thread. A running
// PulseAudio stream reports a lost server as a read or write "warning", then keeps calling back.
void onStreamError(RtAudioError::Type type, const std::string& /*text*/) {
  if (type == RtAudioError::DEBUG_WARNING) return;
  if (std::atomic<bool>* flag = currentError.load()) flag->store(true, std::memory_order_relaxed);
}

// Seconds without a cycle after which a running stream counts as gone. Generous: PulseAudio
// streams take 1.5-2 s to deliver their first block.
constexpr double kSilentStreamSeconds = 4.0;
}  // namespace

RtAudioBackend::RtAudioBackend(std::optional<std::string> input, std::optional<std::string> output,
                               RunLoop& loop)
    : DuplexAudioBackend(loop), wantedInput_(std::move(input)), wantedOutput_(std::move(output)) {}

RtAudioBackend::~RtAudioBackend() {
  if (watchTimer_) loop().cancelTimer(watchTimer_);
  if (recoveryTimer_) loop().cancelTimer(recoveryTimer_);
  closeStream();
  std::atomic<bool>* mine = &streamError_;
  currentError.compare_exchange_strong(mine, nullptr);
}

std::string RtAudioBackend::probe() {
  std::string why;
  std::optional<AudioSystem> system = findAudioSystem(&why);
  if (!system) return why;
  const AudioDevice* in = chooseDevice(*system, wantedInput_, true, &why);
  if (in == nullptr) return why + " (" + system->apiName + "; see --list-devices)";
  const AudioDevice* out = chooseDevice(*system, wantedOutput_, false, &why);
  if (out == nullptr) return why + " (" + system->apiName + "; see --list-devices)";
  inputId_ = in->id;
  outputId_ = out->id;
  inputName_ = in->name;
  outputName_ = out->name;
  system_ = std::move(*system);
  return {};
}

std::string RtAudioBackend::deviceRoute() const {
  return "Speaker:" + outputName_ + ";Microphone:" + inputName_;
}

int RtAudioBackend::streamCallback(void* outputBuffer, void* inputBuffer, unsigned int frames,
                                   double streamTime, unsigned int /*status*/, void* self) {
  static_cast<RtAudioBackend*>(self)->runCycle(static_cast<const std::int16_t*>(inputBuffer),
                                               static_cast<std::int16_t*>(outputBuffer), frames,
                                               streamTime);
  return 0;
}

OSStatus RtAudioBackend::deviceOpen() {
  if (system_.devices.empty() && !probe().empty()) return kAudioSessionNoHardwareError;
  closeStream();
  try {
    audio_ = std::make_unique<RtAudio>(static_cast<RtAudio::Api>(system_.api));
    audio_->showWarnings(false);
    RtAudio::StreamParameters out{outputId_, 1, 0};
    RtAudio::StreamParameters in{inputId_, 1, 0};
    RtAudio::StreamOptions options;
    options.streamName = "quibblers";
    unsigned int frames = kBufferFrames;
    currentError = &streamError_;
    streamError_ = false;
    audio_->openStream(&out, &in, RTAUDIO_SINT16, 44100, &frames, &streamCallback, this, &options,
                       &onStreamError);
  } catch (const std::exception& e) {
    if (!interrupted_) {  // while waiting for the devices to come back, failing is expected
      NSLog("cannot open the sound devices '%s' and '%s': %s", outputName_.c_str(),
            inputName_.c_str(), e.what());
    }
    audio_.reset();
    return kAudioSessionNoHardwareError;
  }
  return 0;
}

OSStatus RtAudioBackend::deviceStart() {
  if (interrupted_) return kAudioUnitErr_CannotDoInCurrentContext;
  if (!audio_ || !audio_->isStreamOpen()) {
    if (deviceOpen() != 0) return kAudioSessionNoHardwareError;
  }
  try {
    audio_->startStream();
  } catch (const std::exception& e) {
    NSLog("cannot start the sound stream: %s", e.what());
    return kAudioSessionNoHardwareError;
  }
  lastCycles_ = cyclesRun();
  lastProgress_ = loop().now();
  if (!watchTimer_) watchTimer_ = loop().addTimer(0.5, 0.5, [this] { watch(); });
  return 0;
}

void RtAudioBackend::deviceStop() {
  if (watchTimer_) loop().cancelTimer(watchTimer_);
  watchTimer_ = 0;
  if (!audio_) return;
  try {
    if (audio_->isStreamRunning()) audio_->stopStream();
  } catch (const std::exception&) {
    // A stream whose device has gone cannot be stopped cleanly; it is closed when reopened.
  }
}

void RtAudioBackend::deviceClose() { closeStream(); }

void RtAudioBackend::closeStream() {
  if (!audio_) return;
  try {
    if (audio_->isStreamRunning()) audio_->abortStream();
    if (audio_->isStreamOpen()) audio_->closeStream();
  } catch (const std::exception&) {
  }
  audio_.reset();
}

// Main thread, twice a second while the unit runs: a stream that reported an error, or that has
// not run a cycle for a while, has lost its device.
void RtAudioBackend::watch() {
  const std::uint64_t cycles = cyclesRun();
  if (cycles != lastCycles_) {
    lastCycles_ = cycles;
    lastProgress_ = loop().now();
  }
  if (streamError_.exchange(false)) {
    failed("the sound stream reported an error");
  } else if (loop().now() - lastProgress_ > kSilentStreamSeconds) {
    failed("the sound stream stopped delivering sound");
  }
}

void RtAudioBackend::failed(const std::string& why) {
  if (interrupted_) return;
  NSLog("audio interrupted: %s; waiting for the devices to come back", why.c_str());
  interrupted_ = true;
  announceInterruption(kAudioSessionBeginInterruption);
  recoveryTimer_ = loop().addTimer(1.0, 1.0, [this] { tryToRecover(); });
}

void RtAudioBackend::tryToRecover() {
  closeStream();
  const std::string why = probe();
  if (!why.empty() || deviceOpen() != 0) return;
  loop().cancelTimer(recoveryTimer_);
  recoveryTimer_ = 0;
  interrupted_ = false;
  NSLog("audio is back on '%s' and '%s'", outputName_.c_str(), inputName_.c_str());
  announceInterruption(kAudioSessionEndInterruption);
}

}  // namespace platform
