#include "WindowApp.h"

#include <poll.h>

#include <cstdio>
#include <cstdlib>

#include "AppHost.h"
#include "MainInterface.h"
#include "MicrophoneOffView.h"
#include "TerminationSignals.h"
#include "VoiceEngineState.h"
#include "WindowControls.h"
#include "WindowRecorder.h"
#include "platform/RunLoop.h"
#include "platform/Window.h"

namespace {

UITouchPhase toTouchPhase(platform::TouchPhase phase) {
  switch (phase) {
    case platform::TouchPhase::Began: return UITouchPhaseBegan;
    case platform::TouchPhase::Moved: return UITouchPhaseMoved;
    case platform::TouchPhase::Ended: return UITouchPhaseEnded;
    case platform::TouchPhase::Cancelled: break;
  }
  return UITouchPhaseCancelled;
}

platform::WindowKey keyOf(ControlAction action) {
  switch (action) {
    case ControlAction::Previous: return platform::WindowKey::Left;
    case ControlAction::Next: return platform::WindowKey::Right;
    case ControlAction::Microphone: return platform::WindowKey::Mute;
    case ControlAction::Record: return platform::WindowKey::Record;
    case ControlAction::Help: break;
  }
  return platform::WindowKey::Help;
}

// Settings are written a moment after the last change, not on every tick of a drag.
constexpr double kSaveDelaySeconds = 1.0;
constexpr double kToastSeconds = 4.0;
constexpr double kErrorSeconds = 8.0;

}  // namespace

int runWindowApp(const LaunchOptions& options, std::shared_ptr<platform::DuplexAudioBackend> audio,
                 SettingsFile& settings, const AppSettings& stored, bool settingsUsable) {
  std::string error;
  auto ui = MainInterface::load(options.flat, options.tuning, error);
  if (!ui) return reportFailure(RunFailure::kBadInputOrOutput, error);
  const std::optional<int> character = options.character ? options.character : stored.character;
  if (character) {
    ui->glView->showCharacter(*character);
    ui->glView->drawView();  // the window's first frame already shows it
  }
  // A voice tuned for the stored character does not belong to one chosen on the command line.
  stored.applyTuning(!options.character);
  platform::RunLoop& loop = platform::RunLoop::main();
  auto micOff = MicrophoneOffView::init();
  micOff->setHidden(true);
  micOff->placeClearOfTuning(ui->tuningVisible());
  ui->window->addSubview(micOff);

  std::unique_ptr<platform::Window> window;
  std::function<void(platform::WindowKey)> act;
  WindowControls controls(*ui->window, [&](ControlAction a) { act(keyOf(a)); });
  controls.setTuningShown(ui->tuningVisible());
  WindowRecorder recorder(*audio, ui->window->pixelWidth(), ui->window->pixelHeight(), loop);

  // The window gets a frame only when the picture changed (or it lost its own copy).
  std::uint64_t shownVersion = 0;
  auto show = [&](bool always) {
    if (!window) return;  // still opening
    const std::uint8_t* frame = ui->window->composite();
    if (!always && ui->window->frameVersion() == shownVersion) return;
    shownVersion = ui->window->frameVersion();
    window->present(frame, ui->window->pixelWidth(), ui->window->pixelHeight());
  };

  auto report = [&](const std::string& message) {
    std::fprintf(stderr, "quibblers: %s\n", message.c_str());
    controls.toast(message, loop.now(), kErrorSeconds);
  };
  auto saved = [&](bool ok, const std::string& pathOrError) {
    if (!ok) {
      report("the recording was not saved: " + pathOrError);
      return;
    }
    std::printf("quibblers: saved the recording %s\n", pathOrError.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "quibblers: recorded %llu frames; %llu pictures dropped as the encoder fell behind, %llu frames repeated\n",
                 static_cast<unsigned long long>(recorder.framesWritten()),
                 static_cast<unsigned long long>(recorder.framesDropped()),
                 static_cast<unsigned long long>(recorder.framesRepeated()));
    const auto slash = pathOrError.rfind('/');
    controls.toast("Saved " + pathOrError.substr(slash == std::string::npos ? 0 : slash + 1) +
                       " in your Videos folder",
                   loop.now(), kToastSeconds);
  };
  auto stopRecording = [&](const std::string& note) {
    if (!recorder.recording()) return;
    recorder.stop([&, note](bool ok, const std::string& pathOrError) {
      if (!note.empty()) std::fprintf(stderr, "quibblers: %s\n", note.c_str());
      saved(ok, pathOrError);
    });
    controls.setRecording(false);
  };
  auto toggleRecording = [&] {
    if (recorder.recording()) {
      stopRecording("");
      return;
    }
    std::string why;
    if (!recorder.start(WindowRecorder::defaultFolder(), loop.now(), why)) {
      report("cannot record: " + why);
      return;
    }
    controls.setRecording(true, 0);
  };
  auto quit = [&] {
    stopRecording("");  // finishing the file runs beside the rest of the shutdown
    if (auto* app = UIApplication::sharedApplication()) app->terminate();
  };

  act = [&](platform::WindowKey key) {
    switch (key) {
      case platform::WindowKey::Left: ui->selectCharacter(ui->glView->current_quibbler() - 1); break;
      case platform::WindowKey::Right: ui->selectCharacter(ui->glView->current_quibbler() + 1); break;
      case platform::WindowKey::Character1: ui->selectCharacter(0); break;
      case platform::WindowKey::Character2: ui->selectCharacter(1); break;
      case platform::WindowKey::Character3: ui->selectCharacter(2); break;
      case platform::WindowKey::Character4: ui->selectCharacter(3); break;
      case platform::WindowKey::Tuning:
        ui->setTuningVisible(!ui->tuningVisible());
        micOff->placeClearOfTuning(ui->tuningVisible());
        controls.setTuningShown(ui->tuningVisible());
        ui->window->addSubview(micOff);  // the badge and the controls stay in front
        controls.raise();
        break;
      case platform::WindowKey::Mute:
        audio->setInputMuted(!audio->inputMuted());
        micOff->setHidden(!audio->inputMuted());
        controls.setMicrophoneOff(audio->inputMuted());
        break;
      case platform::WindowKey::Record: toggleRecording(); break;
      case platform::WindowKey::Help: controls.setHelpShown(!controls.helpShown()); break;
      case platform::WindowKey::FullScreen: window->setFullScreen(!window->isFullScreen()); break;
      case platform::WindowKey::Quit: quit(); break;
      case platform::WindowKey::Escape:
        if (controls.helpShown()) {
          controls.setHelpShown(false);
        } else {
          quit();
        }
        break;
    }
  };

  platform::WindowEvents events;
  events.touch = [&](platform::TouchPhase phase, float x, float y) {
    ui->window->sendTouch(toTouchPhase(phase), CGPoint{x, y});
  };
  events.key = [&](platform::WindowKey key) { act(key); };
  events.activeChanged = [](bool active) {
    if (auto* app = UIApplication::sharedApplication()) active ? app->becomeActive() : app->resignActive();
  };
  events.closeRequested = [&] { quit(); };
  events.redrawNeeded = [&] { show(true); };
  auto opened = platform::openWindow("Quibblers", ui->window->pixelWidth(), ui->window->pixelHeight(),
                                     320, 480, options.fullScreen || stored.fullScreen.value_or(false),
                                     std::move(events), stored.windowWidth.value_or(0),
                                     stored.windowHeight.value_or(0));
  if (!opened) return reportFailure(RunFailure::kNoDisplayOrSound, opened.message() + "; " + kTryOffline);
  window = std::move(*opened);

  // What the settings file should hold now; written when it differs from what it holds.
  AppSettings remembered = stored;
  if (settingsUsable && !stored.hintSeen.value_or(false)) {
    controls.showHint(loop.now());
    if (controls.hintShown()) remembered.hintSeen = true;
  }
  auto current = [&] {
    AppSettings now = remembered;
    now.captureTuning();
    now.character = ui->glView->current_quibbler();
    int w = 0, h = 0;
    window->windowedSize(w, h);
    if (w > 0 && h > 0) {
      now.windowWidth = w;
      now.windowHeight = h;
    }
    now.fullScreen = window->isFullScreen();
    return now;
  };
  AppSettings written;  // what the file holds (as far as it matters); set at launch
  AppSettings pending;
  double pendingSince = 0;
  bool saveFailed = false;
  auto save = [&](const AppSettings& s) {
    std::string why;
    if (settings.save(s, why)) {
      written = s;
    } else if (!saveFailed) {
      saveFailed = true;  // once is enough
      std::fprintf(stderr, "quibblers: %s\n", why.c_str());
    }
  };

  bool launched = false;  // events are handled once the app has launched
  ui->glView->eaglLayer().setPresentObserver([&] {
    ui->tick();
    const double now = loop.now();
    if (programMode == kModePlaying) controls.answered(now);
    controls.tick(now);
    bool always = false;
    if (recorder.recording()) {
      if (const std::string why = recorder.failure(); !why.empty()) {
        recorder.stop({});
        recorder.waitForFile(1.0);
        controls.setRecording(false);
        report("the recording stopped and was not saved: " + why);
      } else if (recorder.elapsed(now) >= WindowRecorder::kLongestSeconds) {
        stopRecording("recordings stop at 10 minutes");
        controls.toast("Recordings stop at 10 minutes: saving", now, kToastSeconds);
      } else {
        controls.setRecording(true, recorder.elapsed(now));
        if (recorder.frameDue(now)) {
          // The recording shows the picture, not the controls over it.
          controls.hideForCapture();
          const bool badge = micOff->isHidden();
          micOff->setHidden(true);
          recorder.addFrame(ui->window->composite(), now);
          micOff->setHidden(badge);
          controls.restore();
          always = true;
        }
      }
    }
    show(always);
    if (launched) {
      const AppSettings s = current();
      if (!(s == pending)) {
        pending = s;
        pendingSince = now;
      }
      if (!(pending == written) && now - pendingSince >= kSaveDelaySeconds) save(pending);
    }
    // Drawing may have read events off the display connection without it turning readable.
    if (launched) window->pumpEvents();
  });
  show(true);

  InstalledAudio installed(audio);
  std::unique_ptr<TerminationSignals> signals;
  platform::RunLoop::Id pump = 0;
  platform::RunLoop::Id eventSource = 0;
  runApp(options, {ui->window, ui->glView}, [&](UIApplication&) {
    signals = std::make_unique<TerminationSignals>(loop, [&] { quit(); });
    // The file is rewritten only once something differs from this.
    written = current();
    written.hintSeen = stored.hintSeen;  // a shown hint is worth remembering
    pending = written;
    pendingSince = loop.now();
    launched = true;
    // Wait for events where the window system allows, instead of waking 120 times a second.
    if (const int fd = window->eventFd(); fd >= 0) {
      eventSource = loop.addFdSource(fd, POLLIN, [&](short) { window->pumpEvents(); });
      window->pumpEvents();
    } else {
      pump = loop.addTimer(0, 1.0 / 120, [&] { window->pumpEvents(); });
    }
  });
  if (eventSource) loop.removeFdSource(eventSource);
  if (pump) loop.cancelTimer(pump);
  ui->glView->eaglLayer().setPresentObserver({});
  stopRecording("");
  if (recorder.waitForFile(WindowRecorder::kQuitSeconds)) loop.runOnce(0);  // its report
  if (launched) {
    if (const AppSettings s = current(); !(s == written)) save(s);
  }
  return 0;
}
