#include "HeadlessAnswer.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

#include "AnswerOutputs.h"
#include "AppHost.h"
#include "Beacon.h"
#include "CharacterVoices.h"
#include "EngineRandom.h"
#include "OfflineAudioBackend.h"
#include "TerminationSignals.h"
#include "ViewModule.h"
#include "VoiceEngineState.h"
#include "platform/RecordingSource.h"
#include "platform/Progress.h"
#include "platform/RunLoop.h"

namespace {

bool uploadInFlight() {
  try {
    return Beacon::shared()->isUploading();
  } catch (const std::exception&) {
    return false;
  }
}

const char* signalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
  }
}

// The line an interrupted run ends with, and its exit status.
int interrupted(double answered, std::optional<double> total) {
  const int signal = TerminationSignals::received();
  TerminationSignals::acknowledge();
  char amount[96];
  if (total) {
    std::snprintf(amount, sizeof amount, "%.1f s of the %.1f s recording", answered, *total);
  } else {
    std::snprintf(amount, sizeof amount, "%.1f s of the recording", answered);
  }
  std::fprintf(stderr, "quibblers: stopped by %s after answering %s; no output written\n",
               signalName(signal), amount);
  return TerminationSignals::exitStatus(signal);
}

// Real seconds a finished answer waits for analytics, in all.
constexpr double kAnalyticsWait = 5.0;

void limitExitUpload(double seconds) {
  try {
    Beacon::shared()->limitExitWait(seconds);
  } catch (const std::exception&) {
  }
}

// One headless answer, step by step: the recording, the outputs, the offline device, the views,
// the run, the outputs put in place. Each step that fails says why and gives the exit status.
class HeadlessRun {
 public:
  explicit HeadlessRun(const LaunchOptions& options) : options_(options) {}

  int run() {
    if (auto status = openInput()) return *status;
    if (!openOutputs()) return reportFailure(RunFailure::kBadInputOrOutput, error_);
    prepareDevice();
    if (!loadViews()) return reportFailure(RunFailure::kBadInputOrOutput, error_);
    feedOutputsFromViews();
    if (TerminationSignals::received()) return interrupted(0, total_);
    // Virtual time has no deadline to warm up for.
    runApp(options_, views(), [this](UIApplication& app) { afterLaunch(app); }, false);
    return putOutputsInPlace();
  }

 private:
  // The recording first: an unreadable one leaves nothing behind. Opening a FIFO blocks until a
  // writer comes, or a termination signal interrupts it.
  std::optional<int> openInput() {
    std::string note;
    auto recording = platform::openRecording(*options_.mic, note);
    if (TerminationSignals::received()) return interrupted(0, std::nullopt);
    if (!recording) return reportFailure(RunFailure::kBadInputOrOutput, recording.message());
    recording_ = std::move(*recording);
    if (!note.empty()) std::fprintf(stderr, "quibblers: %s\n", note.c_str());
    if (auto length = recording_->length()) total_ = static_cast<double>(*length) / 44100.0;
    return std::nullopt;
  }

  bool openOutputs() {
    AnswerOutputPaths paths{options_.speaker, options_.framesDir, options_.video, options_.frameLog};
    outputs_ = AnswerOutputs::open(paths, *options_.mic, 640, 960, error_);
    return outputs_ != nullptr;
  }

  void prepareDevice() {
    loop_.useVirtualTime();
    device_ = std::make_shared<platform::OfflineAudioBackend>(std::move(recording_), options_.framesPerCycle, loop_);
    // Outputs end a quarter second after the last answer, or after the recording if that is later.
    device_->setEndWhenIdle([] { return programMode == kModeListening; },
                            static_cast<UInt32>(0.25 * 44100 / options_.framesPerCycle));
    device_->setCycleSink([this](const std::int16_t* fed, const std::int16_t* speaker, std::size_t n) {
      outputs_->addAudio(fed, speaker, n);
    });
    installed_.emplace(device_);
    seedEngineRandom(1);  // the same recording always gets the same answer
  }

  // The view module only when pictures or ticks are asked for: a sound-only answer never maps
  // the GL and cairo libraries.
  bool loadViews() {
    if (outputs_->wantsTicks() || options_.flat || options_.tuning) {
      ui_ = loadAnswerPictures(options_.flat, options_.tuning, error_);
      if (!ui_) return false;
    }
    if (options_.character) {
      if (ui_) {
        ui_->showCharacter(*options_.character);
      } else {
        useCharacterVoice(*options_.character);
      }
    }
    return true;
  }

  AppViews views() const { return ui_ ? ui_->views() : AppViews{}; }

  double expectedSeconds() const {
    return total_.value_or(0) + device_->trailingCycles() * device_->framesPerCycle() / 44100.0;
  }

  void feedOutputsFromViews() {
    progress_.emplace("answering", platform::ProgressBar::stderrIsTerminal() && expectedSeconds() > 5);
    if (ui_) ui_->onPresent(outputs_->wantsPictures(), [this](const std::uint8_t* rgba, int mouth, int character) {
      addFrame(rgba, mouth, character);
    });
  }

  void addFrame(const std::uint8_t* rgba, int mouthFrame, int character) {
    outputs_->addFrame(rgba, loop_.now(), programMode, mouthFrame, character);
    if (total_) progress_->update(loop_.now() / expectedSeconds());
  }

  void afterLaunch(UIApplication& app) {
    if (ui_ && !outputs_->wantsPictures()) tickFrameLogOnly();
    stopAtFirstFailure(app);
    endWhenAnswered(app);
    signals_ = std::make_unique<TerminationSignals>(loop_, [&app] { app.terminate(); });
  }

  // The frame log alone: the same ticks on the same clock, without drawing any picture.
  void tickFrameLogOnly() {
    ui_->tickWithoutDrawing([this] { return device_->finished(); },
                            [this](const std::uint8_t* rgba, int mouth, int character) { addFrame(rgba, mouth, character); });
  }

  // A failed output or an unreadable rest of the recording ends the run at once: nothing of it
  // will be kept.
  void stopAtFirstFailure(UIApplication& app) {
    loop_.addTimer(0.1, 0.1, [this, &app] {
      if ((outputs_->error().empty() && device_->microphoneError().empty()) || stoppedEarly_) return;
      stoppedEarly_ = true;
      device_->unitStop();
      app.terminate();
    });
  }

  void endWhenAnswered(UIApplication& app) {
    device_->setOnFinished([this, &app] {
      // The answer is complete: no more frames. Analytics gets at most 5 s of real time from
      // here, in all: a launch upload still on its way (a virtual-time run can outpace it) may
      // finish in it, and the exit upload gets what is left, or is left to the next run.
      if (ui_) ui_->onPresent(false, {});
      limitExitUpload(kAnalyticsWait);
      if (!uploadInFlight()) return app.terminate();
      loop_.useRealTime();
      const double deadline = loop_.now() + kAnalyticsWait;
      loop_.addTimer(0.02, 0.02, [&app, this, deadline] {
        if (!uploadInFlight() || loop_.now() >= deadline) app.terminate();
      });
    });
  }

  int putOutputsInPlace() {
    progress_->finish();
    if (ui_) ui_->onPresent(false, {});
    const double answered = static_cast<double>(device_->microphoneSamplesUsed()) / 44100.0;
    installed_.reset();
    if (TerminationSignals::received()) return interrupted(answered, total_);

    bool ok = device_->microphoneError().empty();
    if (!ok) error_ = "cannot read " + *options_.mic + ": " + device_->microphoneError();
    if (ok && !outputs_->finish(error_)) ok = false;
    // A signal after every output is in place comes too late to undo the run.
    if (!ok && TerminationSignals::received()) return interrupted(answered, total_);
    if (!ok) return reportFailure(RunFailure::kBadInputOrOutput, error_ + "; no output written");
    // A closed stdout (SIGPIPE is ignored) only loses these lines: the outputs are in place.
    if (options_.speaker) std::printf("wrote %s (what the loudspeaker played)\n", options_.speaker->c_str());
    if (options_.video) {
      std::printf("wrote %s (%zu frames at 24 fps)\n", options_.video->c_str(), outputs_->framesAdded());
    }
    if (options_.framesDir) {
      std::printf("wrote %zu frames to %s\n", outputs_->framesAdded(), options_.framesDir->c_str());
    }
    return 0;
  }

  const LaunchOptions& options_;
  std::string error_;
  std::unique_ptr<platform::RecordingSource> recording_;
  std::optional<double> total_;
  std::unique_ptr<AnswerOutputs> outputs_;
  platform::RunLoop& loop_ = platform::RunLoop::main();
  std::shared_ptr<platform::OfflineAudioBackend> device_;
  std::optional<InstalledAudio> installed_;
  std::unique_ptr<AnswerPictures> ui_;
  std::optional<platform::ProgressBar> progress_;
  std::unique_ptr<TerminationSignals> signals_;
  bool stoppedEarly_ = false;
};

}  // namespace

int runHeadlessAnswer(const LaunchOptions& options) {
  TerminationSignals::install();
  return HeadlessRun(options).run();
}
