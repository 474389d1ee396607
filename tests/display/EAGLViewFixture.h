#pragma once
// A character view over flat-colour artwork in a temporary resources folder, with helpers to
// tick it, touch it and read back what it showed.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "DisplayFixtures.h"
#include "EAGLView.h"
#include "TempDir.h"
#include "VoiceEngineState.h"
#include "platform/NSBundle.h"

class EAGLViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetVoiceEngineState();
    saved_ = NSBundle::mainBundle().resourcePath();
    NSBundle::mainBundle().setResourcePath(dir_.path().string());
  }
  void TearDown() override { NSBundle::mainBundle().setResourcePath(saved_); }

  // 64 × 128 frames whose 8 outer columns on each side are transparent: on screen the character
  // covers x 80..559 of 640 when centred.
  void writeArtwork() { fixtures::writeCharacterFrames(dir_.path()); }

  std::shared_ptr<EAGLView> makeView() {
    auto view = EAGLView::initWithCoder(NSCoder{});
    EXPECT_TRUE(view) << "no GL view: " << EAGLContext::lastError();
    return view;
  }

  // What the last presented frame shows at pixel (x, y), top-left origin.
  static fixtures::Seen seenAt(const EAGLView& view, int x, int y = 480) {
    const CAEAGLLayer& layer = view.eaglLayer();
    const std::size_t offset = (std::size_t(y) * std::size_t(layer.presentedWidth()) + x) * 4;
    return fixtures::identify(layer.presentedPixels().data() + offset);
  }

  static void tick(EAGLView& view, int ticks = 1) {
    for (int i = 0; i < ticks; ++i) view.drawView();
  }

  // One touch event at (x, y) in view points.
  static void touch(EAGLView& view, UITouchPhase phase, float x, float y = 240) {
    UITouch finger(&view, CGPoint{x, y}, phase);
    const UITouchSet touches({&finger});
    const UIEvent event(touches);
    switch (phase) {
      case UITouchPhaseBegan: view.touchesBegan(touches, &event); break;
      case UITouchPhaseMoved: view.touchesMoved(touches, &event); break;
      case UITouchPhaseEnded: view.touchesEnded(touches, &event); break;
      case UITouchPhaseCancelled: view.touchesCancelled(touches, &event); break;
      case UITouchPhaseStationary: break;
    }
  }

  // A whole drag from x0 to x1, ending where it stopped.
  static void drag(EAGLView& view, float x0, float x1) {
    touch(view, UITouchPhaseBegan, x0);
    touch(view, UITouchPhaseMoved, x1);
    touch(view, UITouchPhaseEnded, x1);
  }

  TempDir dir_;

 private:
  std::string saved_;
};
