#include "HeadlessAnswer.h"

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

#include "AnswerOutputs.h"
#include "Beacon.h"
#include "CharacterVoices.h"
#include "EngineRandom.h"
#include "OfflineAudioBackend.h"
#include "PuppetAppDelegate.h"
#include "TerminationSignals.h"
#include "ViewModule.h"
#include "VoiceEngineState.h"
#include "platform/recording.h"
#include "platform/progress.h"
#include "platform/runloop.h"

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

}  // namespace

int runHeadlessAnswer(const LaunchOptions& options) {
  TerminationSignals::install();
  // The recording first: an unreadable one leaves nothing behind. Opening a FIFO blocks until a
  // writer comes, or a termination signal interrupts it.
  std::string error;
  std::string note;
  auto recording = platform::openRecording(*options.mic, error, note);
  if (TerminationSignals::received()) return interrupted(0, std::nullopt);
  if (!recording) {
    std::fprintf(stderr, "quibblers: %s\n", error.c_str());
    return 1;
  }
  if (!note.empty()) std::fprintf(stderr, "quibblers: %s\n", note.c_str());
  std::optional<double> total;
  if (auto length = recording->length()) total = static_cast<double>(*length) / 44100.0;

  AnswerOutputPaths paths{options.speaker, options.framesDir, options.video, options.frameLog};
  auto outputs = AnswerOutputs::open(paths, *options.mic, 640, 960, error);
  if (!outputs) {
    std::fprintf(stderr, "quibblers: %s\n", error.c_str());
    return 1;
  }

  platform::RunLoop& loop = platform::RunLoop::main();
  loop.useVirtualTime();
  auto device = std::make_shared<platform::OfflineAudioBackend>(std::move(recording),
                                                                options.framesPerCycle, loop);
  // Outputs end a quarter second after the last answer, or after the recording if that is later.
  device->setEndWhenIdle([] { return programMode == kModeListening; },
                         static_cast<UInt32>(0.25 * 44100 / options.framesPerCycle));
  device->setCycleSink([&](const std::int16_t* fed, const std::int16_t* speaker, std::size_t n) {
    outputs->addAudio(fed, speaker, n);
  });
  platform::setAudioBackend(device);
  seedEngineRandom(1);  // the same recording always gets the same answer

  // The view module only when pictures or ticks are asked for: a sound-only answer never maps
  // the GL and cairo libraries.
  std::unique_ptr<AnswerPictures> ui;
  if (outputs->wantsTicks() || options.flat || options.tuning) {
    ui = loadAnswerPictures(options.flat, options.tuning, error);
    if (!ui) {
      std::fprintf(stderr, "quibblers: %s\n", error.c_str());
      platform::setAudioBackend(nullptr);
      return 1;
    }
  }

  if (options.character) {
    if (ui) {
      ui->showCharacter(*options.character);
    } else {
      useCharacterVoice(*options.character);
    }
  }

  PuppetAppDelegate delegate;
  delegate.setAnalyticsEnabled(!options.noAnalytics);
  delegate.setRealTimeWarmUp(false);  // virtual time: no deadline to warm up for
  if (ui) ui->attach(delegate);
  if (options.greeting) delegate.loadGreeting();

  const double expected = total.value_or(0) + device->trailingCycles() * device->framesPerCycle() / 44100.0;
  platform::ProgressBar progress("answering", platform::ProgressBar::stderrIsTerminal() && expected > 5);
  const AnswerPictures::Tick tick = [&](const std::uint8_t* rgba, int mouthFrame, int character) {
    outputs->addFrame(rgba, loop.now(), programMode, mouthFrame, character);
    if (total) progress.update(loop.now() / expected);
  };
  if (ui) ui->onPresent(outputs->wantsPictures(), tick);

  if (TerminationSignals::received()) {
    platform::setAudioBackend(nullptr);
    return interrupted(0, total);
  }
  std::unique_ptr<TerminationSignals> signals;
  bool stoppedEarly = false;
  UIApplicationMain(delegate, [&](UIApplication& app) {
    if (ui && !outputs->wantsPictures()) {
      // The frame log alone: the same ticks on the same clock, without drawing any picture.
      ui->tickWithoutDrawing([&] { return device->finished(); }, tick);
    }
    // A failed output or an unreadable rest of the recording ends the run at once: nothing of
    // it will be kept.
    loop.addTimer(0.1, 0.1, [&] {
      if ((outputs->error().empty() && device->microphoneError().empty()) || stoppedEarly) return;
      stoppedEarly = true;
      device->unitStop();
      app.terminate();
    });
    device->setOnFinished([&] {
      // The answer is complete: no more frames. Analytics gets at most 5 s of real time from
      // here, in all: a launch upload still on its way (a virtual-time run can outpace it) may
      // finish in it, and the exit upload gets what is left, or is left to the next run.
      if (ui) ui->onPresent(false, {});
      limitExitUpload(kAnalyticsWait);
      if (!uploadInFlight()) return app.terminate();
      loop.useRealTime();
      const double deadline = loop.now() + kAnalyticsWait;
      loop.addTimer(0.02, 0.02, [&app, &loop, deadline] {
        if (!uploadInFlight() || loop.now() >= deadline) app.terminate();
      });
    });
    signals = std::make_unique<TerminationSignals>(loop, [&app] { app.terminate(); });
  });
  progress.finish();
  if (ui) ui->onPresent(false, {});
  const double answered = static_cast<double>(device->microphoneSamplesUsed()) / 44100.0;
  platform::setAudioBackend(nullptr);
  if (TerminationSignals::received()) return interrupted(answered, total);

  bool ok = device->microphoneError().empty();
  if (!ok) error = "cannot read " + *options.mic + ": " + device->microphoneError();
  if (ok && !outputs->finish(error)) ok = false;
  // A signal after every output is in place comes too late to undo the run.
  if (!ok && TerminationSignals::received()) return interrupted(answered, total);
  if (!ok) {
    std::fprintf(stderr, "quibblers: %s; no output written\n", error.c_str());
    return 1;
  }
  // A closed stdout (SIGPIPE is ignored) only loses these lines: the outputs are in place.
  if (options.speaker) std::printf("wrote %s (what the loudspeaker played)\n", options.speaker->c_str());
  if (options.video) std::printf("wrote %s (%zu frames at 24 fps)\n", options.video->c_str(), outputs->framesAdded());
  if (options.framesDir) std::printf("wrote %zu frames to %s\n", outputs->framesAdded(), options.framesDir->c_str());
  return 0;
}
