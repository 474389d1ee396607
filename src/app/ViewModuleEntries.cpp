// The view module's entry points (see ViewModule.h, the program's side).
#include <memory>

#include "MainInterface.h"
#include "ViewModule.h"
#include "WindowApp.h"
#include "platform/Modules.h"
#include "platform/RunLoop.h"

namespace {

class InterfacePictures : public AnswerPictures {
 public:
  explicit InterfacePictures(std::unique_ptr<MainInterface> ui) : ui_(std::move(ui)) {}
  ~InterfacePictures() override {
    ui_->glView->eaglLayer().setPresentObserver({});
    if (ticks_) platform::RunLoop::main().cancelTimer(ticks_);
  }

  void showCharacter(int character) override { ui_->glView->showCharacter(character); }

  AppViews views() const override { return {ui_->window, ui_->glView}; }

  void onPresent(bool draw, Tick tick) override {
    if (!tick) return ui_->glView->eaglLayer().setPresentObserver({});
    ui_->glView->eaglLayer().setPresentObserver([this, draw, tick = std::move(tick)] {
      ui_->tick();
      tick(draw ? ui_->window->composite() : nullptr, ui_->glView->getValue(), ui_->glView->current_quibbler());
    });
  }

  void tickWithoutDrawing(std::function<bool()> finished, Tick tick) override {
    ui_->glView->stopAnimation();
    const double interval = ui_->glView->animationInterval();
    ticks_ = platform::RunLoop::main().addTimer(interval, interval, [this, finished = std::move(finished), tick = std::move(tick)] {
      if (finished()) return;
      ui_->glView->advance();
      tick(nullptr, ui_->glView->getValue(), ui_->glView->current_quibbler());
    });
  }

 private:
  std::unique_ptr<MainInterface> ui_;
  platform::RunLoop::Id ticks_ = 0;
};

}  // namespace

QB_MODULE_ENTRY AnswerPictures* qb_view_answer_pictures(bool flat, bool tuning, std::string& error) {
  auto ui = MainInterface::load(flat, tuning, error);
  return ui ? new InterfacePictures(std::move(ui)) : nullptr;
}

QB_MODULE_ENTRY platform::FrameSeries* qb_view_png_frames(const std::string& dir, int width, int height,
                                                          std::string& error) {
  auto frames = platform::PngFrameWriter::open(dir, width, height);
  if (!frames) {
    error = frames.message();
    return nullptr;
  }
  return frames->release();
}

QB_MODULE_ENTRY int qb_view_run_window_app(const LaunchOptions& options,
                                           std::shared_ptr<platform::DuplexAudioBackend>& audio,
                                           SettingsFile& settings, const AppSettings& stored,
                                           bool settingsUsable) {
  return runWindowApp(options, audio, settings, stored, settingsUsable);
}
