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
#include <array>
#include <memory>
#include <vector>

#include "platform/UIView.h"

class UIWindow : public UIView {
 public:
  explicit UIWindow(CGRect frame = CGRectMake(0, 0, 320, 480), CGFloat scale = 2);
  ~UIWindow() override;

  CGFloat scale() const { return scale_; }
  int pixelWidth() const { return pixelWidth_; }
  int pixelHeight() const { return pixelHeight_; }

  // Lays out every view that needs it, as the platform does before a window first shows.
  void makeKeyAndVisible();

  // Composites and returns the frame (valid until the next call). When no view was marked and
  // no layer presented new pixels since the last call, the frame is returned as it is.
  const std::uint8_t* composite();
  const std::vector<std::uint8_t>& framePixels() const { return frame_; }
  // Changes whenever composite() built a new frame (0 before the first).
  std::uint64_t frameVersion() const { return frameVersion_; }

  // One touch at a time: Began picks the view under `point` (window points) and the rest of the
  // touch goes to that view; a Began during a touch cancels the old one first. Touches outside
  // every view, or with no touch under way, are dropped.
  void sendTouch(UITouchPhase phase, CGPoint point);

 private:
  // One visible view as it goes into the frame, back to front.
  struct Piece {
    const UIView* view = nullptr;
    int x = 0, y = 0;                // pixels
    std::uint64_t version = 0;       // of the layer's pixels or the view's drawing
    const CAEAGLLayer* gl = nullptr;
    bool opaque = false;             // of the GL layer
    const UIView::Backing* backing = nullptr;
    bool operator==(const Piece& o) const {
      return view == o.view && x == o.x && y == o.y && version == o.version && gl == o.gl &&
             opaque == o.opaque;
    }
  };
  void collect(UIView& view, CGPoint origin);
  bool coversFrame(const std::vector<Piece>& pieces) const;
  void draw(const Piece& piece);
  void deliver(UITouchPhase phase);

  CGFloat scale_;
  int pixelWidth_;
  int pixelHeight_;
  std::vector<std::uint8_t> frame_;
  std::vector<Piece> pieces_;
  std::vector<Piece> lastPieces_;
  std::array<std::uint8_t, 4> base_{};
  std::uint64_t frameVersion_ = 0;
  std::shared_ptr<UIView> touchView_;
  std::unique_ptr<UITouch> touch_;
};
