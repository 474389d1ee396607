#include "WindowApp.h"

#include <poll.h>

#include <cstdio>

#include "AppHost.h"
#include "MainInterface.h"
#include "MicrophoneOffView.h"
#include "TerminationSignals.h"
#include "platform/runloop.h"
#include "platform/window.h"

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

}  // namespace

int runWindowApp(const LaunchOptions& options, std::shared_ptr<platform::DuplexAudioBackend> audio) {
  std::string error;
  auto ui = MainInterface::load(options.flat, options.tuning, error);
  if (!ui) return reportFailure(RunFailure::kBadInputOrOutput, error);
  if (options.character) {
    ui->glView->showCharacter(*options.character);
    ui->glView->drawView();  // the window's first frame already shows it
  }
  platform::RunLoop& loop = platform::RunLoop::main();
  auto micOff = MicrophoneOffView::init();
  micOff->setHidden(true);
  ui->window->addSubview(micOff);

  std::unique_ptr<platform::Window> window;
  // The window gets a frame only when the picture changed (or it lost its own copy).
  std::uint64_t shownVersion = 0;
  auto show = [&](bool always) {
    if (!window) return;  // still opening
    const std::uint8_t* frame = ui->window->composite();
    if (!always && ui->window->frameVersion() == shownVersion) return;
    shownVersion = ui->window->frameVersion();
    window->present(frame, ui->window->pixelWidth(), ui->window->pixelHeight());
  };

  platform::WindowEvents events;
  events.touch = [&](platform::TouchPhase phase, float x, float y) {
    ui->window->sendTouch(toTouchPhase(phase), CGPoint{x, y});
  };
  events.key = [&](platform::WindowKey key) {
    switch (key) {
      case platform::WindowKey::Left: ui->selectCharacter(ui->glView->current_quibbler() - 1); break;
      case platform::WindowKey::Right: ui->selectCharacter(ui->glView->current_quibbler() + 1); break;
      case platform::WindowKey::Character1: ui->selectCharacter(0); break;
      case platform::WindowKey::Character2: ui->selectCharacter(1); break;
      case platform::WindowKey::Character3: ui->selectCharacter(2); break;
      case platform::WindowKey::Character4: ui->selectCharacter(3); break;
      case platform::WindowKey::Tuning:
        ui->setTuningVisible(!ui->tuningVisible());
        ui->window->addSubview(micOff);  // the badge stays in front
        break;
      case platform::WindowKey::Mute:
        audio->setInputMuted(!audio->inputMuted());
        micOff->setHidden(!audio->inputMuted());
        break;
      case platform::WindowKey::FullScreen: window->setFullScreen(!window->isFullScreen()); break;
      case platform::WindowKey::Quit:
        if (auto* app = UIApplication::sharedApplication()) app->terminate();
        break;
    }
  };
  events.activeChanged = [](bool active) {
    if (auto* app = UIApplication::sharedApplication()) active ? app->becomeActive() : app->resignActive();
  };
  events.closeRequested = [] {
    if (auto* app = UIApplication::sharedApplication()) app->terminate();
  };
  events.redrawNeeded = [&] { show(true); };
  window = platform::openWindow("Quibblers", ui->window->pixelWidth(), ui->window->pixelHeight(),
                                320, 480, options.fullScreen, std::move(events), error);
  if (!window) return reportFailure(RunFailure::kNoDisplayOrSound, error + "; " + kTryOffline);
  bool launched = false;  // events are handled once the app has launched
  ui->glView->eaglLayer().setPresentObserver([&] {
    ui->tick();
    show(false);
    // Drawing may have read events off the display connection without it turning readable.
    if (launched) window->pumpEvents();
  });
  show(true);

  InstalledAudio installed(audio);
  std::unique_ptr<TerminationSignals> signals;
  platform::RunLoop::Id pump = 0;
  platform::RunLoop::Id eventSource = 0;
  runApp(options, {ui->window, ui->glView}, [&](UIApplication& app) {
    signals = std::make_unique<TerminationSignals>(loop, [&app] { app.terminate(); });
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
  return 0;
}
