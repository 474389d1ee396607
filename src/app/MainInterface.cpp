#include "MainInterface.h"

#include <algorithm>

#include "TuningPanelView.h"
#include "VoiceEngineState.h"
#include "platform/EAGLContext.h"

std::unique_ptr<MainInterface> MainInterface::load(bool flat, bool tuning, std::string& error) {
  auto ui = std::make_unique<MainInterface>();
  ui->window = std::make_shared<UIWindow>(CGRectMake(0, 0, 320, 480), 2);
  ui->glView = EAGLView::initWithCoder(NSCoder{CGRectMake(0, 0, 320, 480)});
  if (!ui->glView) {
    error = std::string("cannot create the character view: ") + EAGLContext::lastError();
    return nullptr;
  }
  ui->window->addSubview(ui->glView);
  if (flat) {
    ui->flatView = Quibbler::init();
    ui->flatView->setFrame(CGRectMake(0, 0, 320, 480));
    ui->flatView->setBackgroundColor(UIColor{1, 1, 1, 1});
    ui->window->addSubview(ui->flatView);
  }
  if (tuning) ui->setTuningVisible(true);
  ui->window->makeKeyAndVisible();
  return ui;
}

void MainInterface::setTuningVisible(bool visible) {
  if (!tuningView) {
    if (!visible) return;
    tuningPanel = std::make_shared<TuningPanelView>();
    window->addSubview(tuningPanel);
    tuningView = QuibbleDebugView::initWithFrame(CGRectMake(0, 0, 320, 480));
    window->addSubview(tuningView);
  }
  tuningView->setHidden(!visible);
  tuningPanel->setHidden(!visible);
  if (visible) {
    tuningView->postValue();
    tuningPanel->setNeedsDisplay();
  }
}

void MainInterface::tick() {
  if (flatView) {
    const std::uint16_t mode = programMode;
    if (mode == kModeListening || mode == kModeRecording) flatView->setValueIdle(0);
    if (mode == kModePlaying || mode == kModeGreeting) {
      flatView->setValue(static_cast<float>(averageLevel.load()) /
                         static_cast<float>(maxRecordingLevels.load()));
    }
  }
  if (tuningVisible()) {
    tuningView->postValue();
    tuningPanel->setNeedsDisplay();
  }
}

void MainInterface::selectCharacter(int index) {
  index = std::clamp(index, 0, 3);
  auto drag = [this](float fromX, float toX) {
    UITouch touch(glView.get(), CGPoint{fromX, 240}, UITouchPhaseBegan);
    UITouchSet touches({&touch});
    UIEvent event(touches);
    glView->touchesBegan(touches, &event);
    touch.update(CGPoint{toX, 240}, UITouchPhaseMoved);
    glView->touchesMoved(touches, &event);
    touch.update(CGPoint{toX, 240}, UITouchPhaseEnded);
    glView->touchesEnded(touches, &event);
  };
  while (glView->current_quibbler() < index) drag(300, 20);  // finger left: the next one
  while (glView->current_quibbler() > index) drag(20, 300);  // finger right: the previous one
}
