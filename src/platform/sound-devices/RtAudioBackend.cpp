#include "RtAudioBackend.h"

#include <RtAudio.h>

#include "PulseConnection.h"
#include "PulseStream.h"
#include "platform/Log.h"

namespace platform {

namespace {
// RtAudio's error callback carries no user data; there is one live back end at a time.
std::atomic<std::atomic<bool>*> currentError{nullptr};

// Called on the stream thread: only flag it; the watch timer reacts on the main thread. A running
// stream reports a lost server as a read or write "warning", then keeps calling back.
void onStreamError(RtAudioError::Type type, const std::string& /*text*/) {
  if (type == RtAudioError::DEBUG_WARNING) return;
  if (std::atomic<bool>* flag = currentError.load()) flag->store(true, std::memory_order_relaxed);
}

// Seconds without a cycle after which a running stream counts as gone.
constexpr double kSilentStreamSeconds = 4.0;
// How often the main thread checks the stream and the server's devices, and looks for devices
// while interrupted: a new device or default is taken up within a second.
constexpr double kWatchSeconds = 0.25;
constexpr double kRecoverySeconds = 0.5;

// How messages name a device: its description, and its own name where that differs, so twins
// can be told apart.
std::string label(const AudioDevice& d) {
  return d.id == d.description ? "'" + d.id + "'" : "'" + d.description + "' (" + d.id + ")";
}

void pulseCycle(void* self, const std::int16_t* in, std::int16_t* out, unsigned frames) {
  RtAudioBackend::streamCallback(out, const_cast<std::int16_t*>(in), frames, 0.0, 0, self);
}
}  // namespace

RtAudioBackend::RtAudioBackend(std::optional<std::string> input, std::optional<std::string> output,
                               RunLoop& loop)
    : DuplexAudioBackend(loop), wantedInput_(std::move(input)), wantedOutput_(std::move(output)) {}

RtAudioBackend::~RtAudioBackend() {
  if (watchTimer_) loop().cancelTimer(watchTimer_);
  if (recoveryTimer_) loop().cancelTimer(recoveryTimer_);
  closeStream();
  pulse_.reset();
  std::atomic<bool>* mine = &streamError_;
  currentError.compare_exchange_strong(mine, nullptr);
}

bool RtAudioBackend::usesPulse() const { return system_.api == RtAudio::LINUX_PULSE && pulse_; }

std::string RtAudioBackend::probe() {
  quietAudioLibraries();
  std::string why;
  std::optional<AudioSystem> system;
  if (!pulse_ || pulse_->lost()) {
    closeStream();
    pulse_ = std::make_unique<PulseConnection>();
    if (!pulse_->connect(kPulseAnswerSeconds, &why)) pulse_.reset();
  }
  if (pulse_) {
    system = pulse_->devices(kPulseAnswerSeconds, &why);
    if (system) system->api = RtAudio::LINUX_PULSE;
  } else {
    system = findAudioSystem(&why);
  }
  serverFound_ = false;
  if (!system) return why;
  const AudioDevice* in = chooseDevice(*system, wantedInput_, true, &why);
  const AudioDevice* out = in ? chooseDevice(*system, wantedOutput_, false, &why) : nullptr;
  if (in == nullptr || out == nullptr) {
    // A server with no device on one side may get one (a headset plugged in); a name that
    // matches nothing is a mistake to report.
    serverFound_ = in == nullptr ? !wantedInput_ : !wantedOutput_;
    system_.apiName = system->apiName;
    return serverFound_ ? why : why + "; see --list-devices";
  }
  input_ = *in;
  output_ = *out;
  system_ = std::move(*system);
  return {};
}

void RtAudioBackend::waitForDevices(const std::string& why) {
  if (interrupted_) return;
  NSLog("%s; waiting for one", why.c_str());
  interrupted_ = true;
  recoveryTimer_ = loop().addTimer(kRecoverySeconds, kRecoverySeconds, [this] { tryToRecover(); });
}

std::uint64_t RtAudioBackend::underruns() const {
  return earlierUnderruns_ + rtUnderruns_.load(std::memory_order_relaxed) +
         (pulseStream_ ? pulseStream_->underruns() : 0);
}

std::string RtAudioBackend::inputName() const { return label(input_); }
std::string RtAudioBackend::outputName() const { return label(output_); }

std::string RtAudioBackend::deviceRoute() const {
  return "Speaker:" + output_.description + ";Microphone:" + input_.description;
}

int RtAudioBackend::streamCallback(void* outputBuffer, void* inputBuffer, unsigned int frames,
                                   double streamTime, unsigned int status, void* self) {
  auto* me = static_cast<RtAudioBackend*>(self);
  if ((status & RTAUDIO_OUTPUT_UNDERFLOW) && me->cyclesRun() > 0) {
    me->rtUnderruns_.fetch_add(1, std::memory_order_relaxed);
  }
  me->runCycle(static_cast<const std::int16_t*>(inputBuffer), static_cast<std::int16_t*>(outputBuffer),
               frames, streamTime);
  return 0;
}

std::string RtAudioBackend::openStream() {
  closeStream();
  if (usesPulse()) {
    pulseStream_ = std::make_unique<PulseStream>(*pulse_, &pulseCycle, this);
    // PipeWire (at least in a virtual machine) runs its graph in quanta of 1024 frames at
    // 48 kHz and pulls two of them between our writes at times: it starts three cycles ahead,
    // PulseAudio one and a half; underruns grow either.
    const unsigned ahead = system_.apiName == "PipeWire" ? 3 * kBufferFrames : 3 * kBufferFrames / 2;
    std::string why = pulseStream_->open(input_.id, output_.id, ahead, kPulseAnswerSeconds);
    if (!why.empty()) pulseStream_.reset();
    return why;
  }
  try {
    audio_ = std::make_unique<RtAudio>(static_cast<RtAudio::Api>(system_.api));
    audio_->showWarnings(false);
    RtAudio::StreamParameters out{output_.number, 1, 0};
    RtAudio::StreamParameters in{input_.number, 1, 0};
    RtAudio::StreamOptions options;
    options.streamName = "quibblers";
    unsigned int frames = kBufferFrames;
    currentError = &streamError_;
    streamError_ = false;
    audio_->openStream(&out, &in, RTAUDIO_SINT16, 44100, &frames, &streamCallback, this, &options,
                       &onStreamError);
  } catch (const std::exception& e) {
    audio_.reset();
    return e.what();
  }
  return {};
}

bool RtAudioBackend::startStream() {
  if (pulseStream_) {
    pulseStream_->start();
  } else if (audio_) {
    try {
      audio_->startStream();
    } catch (const std::exception& e) {
      NSLog("cannot start the sound stream: %s", e.what());
      return false;
    }
  } else {
    return false;
  }
  lastCycles_ = cyclesRun();
  lastProgress_ = loop().now();
  return true;
}

void RtAudioBackend::stopStream() {
  if (pulseStream_) pulseStream_->stop();
  if (!audio_) return;
  try {
    if (audio_->isStreamRunning()) audio_->stopStream();
  } catch (const std::exception&) {
    // A stream whose device has gone cannot be stopped cleanly; it is closed when reopened.
  }
}

void RtAudioBackend::closeStream() {
  if (pulseStream_) {
    earlierUnderruns_ += pulseStream_->underruns();
    pulseStream_.reset();
  }
  if (!audio_) return;
  try {
    if (audio_->isStreamRunning()) audio_->abortStream();
    if (audio_->isStreamOpen()) audio_->closeStream();
  } catch (const std::exception&) {
  }
  audio_.reset();
}

OSStatus RtAudioBackend::deviceOpen() {
  if (interrupted_) return 0;  // the recovery opens the stream once the devices are there
  if (system_.devices.empty() && !probe().empty()) return kAudioSessionNoHardwareError;
  const std::string why = openStream();
  if (why.empty()) return 0;
  if (!interrupted_) {  // while waiting for the devices to come back, failing is expected
    NSLog("cannot open the sound devices %s and %s: %s", label(output_).c_str(), label(input_).c_str(),
          why.c_str());
  }
  return kAudioSessionNoHardwareError;
}

OSStatus RtAudioBackend::deviceStart() {
  if (interrupted_) return kAudioUnitErr_CannotDoInCurrentContext;
  if (!pulseStream_ && !(audio_ && audio_->isStreamOpen())) {
    if (deviceOpen() != 0) return kAudioSessionNoHardwareError;
  }
  if (!startStream()) return kAudioSessionNoHardwareError;
  if (!watchTimer_) watchTimer_ = loop().addTimer(kWatchSeconds, kWatchSeconds, [this] { watch(); });
  return 0;
}

void RtAudioBackend::deviceStop() {
  if (watchTimer_) loop().cancelTimer(watchTimer_);
  watchTimer_ = 0;
  stopStream();
}

void RtAudioBackend::deviceClose() { closeStream(); }

// Main thread, four times a second while the unit runs: a stream that ended, reported an error
// or has not run a cycle for a while has lost its device; a new default is followed.
void RtAudioBackend::watch() {
  if (interrupted_) return;
  const std::uint64_t cycles = cyclesRun();
  if (cycles != lastCycles_) {
    lastCycles_ = cycles;
    lastProgress_ = loop().now();
  }
  if (usesPulse()) {
    if (pulse_->lost()) return failed("the sound server has gone");
    if (pulseStream_ && pulseStream_->failed()) {
      const std::string why = goneReason();
      if (!wantedInput_ && !wantedOutput_ && switchDevices(why.c_str())) return;
      return failed(why);
    }
    if (pulse_->takeChange() && (!wantedInput_ || !wantedOutput_)) {
      switchDevices("the default sound device changed");
      return;
    }
  } else if (audio_ && !audio_->isStreamRunning()) {
    // JACK stops and closes the stream of a client it shuts down.
    return failed("the sound server stopped the stream");
  }
  if (streamError_.exchange(false)) {
    failed("the sound stream reported an error");
  } else if (loop().now() - lastProgress_ > kSilentStreamSeconds) {
    failed("the sound stream stopped delivering sound");
  }
}

// Why the running stream ended, from what the server has now.
std::string RtAudioBackend::goneReason() {
  if (!pulse_ || pulse_->lost()) return "the sound server has gone";
  const auto now = pulse_->devices(kPulseAnswerSeconds, nullptr);
  if (!now) return "the sound server has gone";
  bool haveInput = false;
  bool haveOutput = false;
  for (const AudioDevice& d : now->devices) {
    haveInput = haveInput || (d.inputChannels > 0 && d.id == input_.id);
    haveOutput = haveOutput || (d.outputChannels > 0 && d.id == output_.id);
  }
  if (!haveOutput) return "the loudspeaker " + label(output_) + " has gone";
  if (!haveInput) return "the microphone " + label(input_) + " has gone";
  return "the sound server ended the stream";
}

// Moves to the devices the options and the server's defaults pick now, if they differ; says so
// in one line. False when there are none to move to (the caller then reports an interruption).
bool RtAudioBackend::switchDevices(const char* what) {
  const std::string oldInput = input_.id;
  const std::string oldOutput = output_.id;
  const bool streamFailed = pulseStream_ && pulseStream_->failed();
  if (!probe().empty()) return false;
  if (!streamFailed && input_.id == oldInput && output_.id == oldOutput) return true;
  stopStream();
  const std::string why = openStream();
  if (!why.empty() || !startStream()) return false;
  NSLog("%s: answering on %s, listening on %s", what, label(output_).c_str(), label(input_).c_str());
  announceRouteChange();
  return true;
}

void RtAudioBackend::failed(const std::string& why) {
  if (interrupted_) return;
  NSLog("audio interrupted: %s; waiting for the sound devices", why.c_str());
  interrupted_ = true;
  stopStream();
  announceInterruption(kAudioSessionBeginInterruption);
  recoveryTimer_ = loop().addTimer(kRecoverySeconds, kRecoverySeconds, [this] { tryToRecover(); });
}

void RtAudioBackend::tryToRecover() {
  closeStream();
  const std::string why = probe();
  if (!why.empty() || !openStream().empty()) return;
  loop().cancelTimer(recoveryTimer_);
  recoveryTimer_ = 0;
  interrupted_ = false;
  NSLog("audio is back: answering on %s, listening on %s", label(output_).c_str(), label(input_).c_str());
  announceInterruption(kAudioSessionEndInterruption);
}

}  // namespace platform
