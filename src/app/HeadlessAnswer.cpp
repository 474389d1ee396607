#include "HeadlessAnswer.h"

#include <cstdio>
#include <memory>

#include "AnswerOutputs.h"
#include "Beacon.h"
#include "EngineRandom.h"
#include "MainInterface.h"
#include "OfflineAudioBackend.h"
#include "PuppetAppDelegate.h"
#include "TerminationSignals.h"
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

// The whole recording, converted on the way in (saying so in one line).
bool readRecording(const std::string& path, std::vector<std::int16_t>& samples, std::string& error) {
  std::string note;
  auto source = platform::openRecording(path, error, note);
  if (!source) return false;
  if (!note.empty()) std::fprintf(stderr, "quibblers: %s\n", note.c_str());
  std::int16_t block[4096];
  while (const std::size_t n = source->read(block, 4096)) samples.insert(samples.end(), block, block + n);
  if (source->error().empty()) return true;
  error = "'" + path + "': " + source->error();
  return false;
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
  TerminationSignals::block();
  std::string error;
  std::vector<std::int16_t> micSamples;
  if (!readRecording(*options.mic, micSamples, error)) {
    std::fprintf(stderr, "quibblers: %s\n", error.c_str());
    return 1;
  }
  AnswerOutputPaths paths{options.speaker, options.framesDir, options.video, options.frameLog};
  auto outputs = AnswerOutputs::open(paths, 640, 960, error);
  if (!outputs) {
    std::fprintf(stderr, "quibblers: %s\n", error.c_str());
    return 1;
  }

  platform::RunLoop& loop = platform::RunLoop::main();
  loop.useVirtualTime();
  auto device = std::make_shared<platform::OfflineAudioBackend>(std::move(micSamples),
                                                                options.framesPerCycle, loop);
  // Outputs end a quarter second after the last answer, or after the recording if that is later.
  device->setEndWhenIdle([] { return programMode == kModeListening; },
                         static_cast<UInt32>(0.25 * 44100 / options.framesPerCycle));
  platform::setAudioBackend(device);
  seedEngineRandom(1);  // the same recording always gets the same answer

  std::unique_ptr<MainInterface> ui;
  if (outputs->wantsFrames() || options.flat || options.tuning) {
    ui = MainInterface::load(options.flat, options.tuning, error);
    if (!ui) {
      std::fprintf(stderr, "quibblers: %s\n", error.c_str());
      platform::setAudioBackend(nullptr);
      return 1;
    }
  }

  if (options.character) {
    if (ui) {
      ui->glView->showCharacter(*options.character);
    } else {
      useCharacterVoice(*options.character);
    }
  }

  PuppetAppDelegate delegate;
  delegate.setAnalyticsEnabled(!options.noAnalytics);
  if (ui) {
    delegate.setWindow(ui->window);
    delegate.setGlView(ui->glView);
  }
  if (options.greeting) delegate.loadGreeting();

  const double total = static_cast<double>(device->microphoneSampleCount() +
                                           device->trailingCycles() * device->framesPerCycle()) /
                       44100.0;
  platform::ProgressBar progress("answering", platform::ProgressBar::stderrIsTerminal() && total > 5);
  if (ui) {
    ui->glView->eaglLayer().setPresentObserver([&] {
      ui->tick();
      outputs->addFrame(ui->window->composite(), loop.now(), programMode,
                        ui->glView->getValue(), ui->glView->current_quibbler());
      progress.update(loop.now() / total);
    });
  }

  std::unique_ptr<TerminationSignals> signals;
  UIApplicationMain(delegate, [&](UIApplication& app) {
    device->setOnFinished([&] {
      // The answer is complete: no more frames. Analytics gets at most 5 s of real time from
      // here, in all: a launch upload still on its way (a virtual-time run can outpace it) may
      // finish in it, and the exit upload gets what is left, or is left to the next run.
      if (ui) ui->glView->eaglLayer().setPresentObserver({});
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
  if (ui) ui->glView->eaglLayer().setPresentObserver({});

  const bool ok = outputs->finish(device->microphoneFed(), device->speakerOutput(), error);
  platform::setAudioBackend(nullptr);
  if (!ok) {
    std::fprintf(stderr, "quibblers: %s\n", error.c_str());
    return 1;
  }
  if (options.speaker) std::printf("wrote %s (what the loudspeaker played)\n", options.speaker->c_str());
  if (options.video) std::printf("wrote %s (%zu frames at 24 fps)\n", options.video->c_str(), outputs->framesAdded());
  if (options.framesDir) std::printf("wrote %zu frames to %s\n", outputs->framesAdded(), options.framesDir->c_str());
  return 0;
}
