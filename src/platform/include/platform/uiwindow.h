#pragma once
// UIWindow stand-in: the root view. It composites its views into one frame of pixels and routes
// touches, given in window points, to the view under the finger.
//
//   auto window = std::make_shared<UIWindow>();        // 320 × 480 points at scale 2
//   window->addSubview(glView);                        // back
//   window->addSubview(overlay);                       // front
//   window->makeKeyAndVisible();                       // layout pass (glView rebuilds, draws)
//   glLayer.setPresentObserver([&] { sink(window->composite(), 640, 960); });
//   window->sendTouch(UITouchPhaseBegan, {100, 200});  // points
//
// composite() starts from opaque black, then for each view back to front (depth first, hidden
// views and their subviews skipped): a CAEAGLLayer view puts its last presented pixels (copied
// when the layer is opaque, else blended), any other view its drawing (premultiplied source
// over), redrawing it first only when it was marked with setNeedsDisplay. The result is
// pixelWidth() × pixelHeight() × 4 bytes, RGBA, top row first, premultiplied; opaque whenever
// an opaque view covers the window.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/uiview.h"

class UIWindow : public UIView {
 public:
  explicit UIWindow(CGRect frame = CGRectMake(0, 0, 320, 480), CGFloat scale = 2);
  ~UIWindow() override;

  CGFloat scale() const { return scale_; }
  int pixelWidth() const { return pixelWidth_; }
  int pixelHeight() const { return pixelHeight_; }

  // Lays out every view that needs it, as the platform does before a window first shows.
  void makeKeyAndVisible();

  // Composites and returns the frame (valid until the next call).
  const std::uint8_t* composite();
  const std::vector<std::uint8_t>& framePixels() const { return frame_; }

  // One touch at a time: Began picks the view under `point` (window points) and the rest of the
  // touch goes to that view; a Began during a touch cancels the old one first. Touches outside
  // every view, or with no touch under way, are dropped.
  void sendTouch(UITouchPhase phase, CGPoint point);

 private:
  void compositeView(UIView& view, CGPoint origin);
  void deliver(UITouchPhase phase);

  CGFloat scale_;
  int pixelWidth_;
  int pixelHeight_;
  std::vector<std::uint8_t> frame_;
  std::shared_ptr<UIView> touchView_;
  std::unique_ptr<UITouch> touch_;
};
