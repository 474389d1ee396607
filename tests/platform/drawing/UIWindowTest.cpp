// The window: compositing GL pixels and 2D views into one frame, redrawing only marked views,
// and routing touches.
#include <gtest/gtest.h>

#include "platform/UIKit.h"

namespace {

// A 2D view that fills itself with one colour and counts its drawing.
class PaintView : public UIView {
 public:
  PaintView(CGRect frame, UIColor colour) : UIView(frame), colour_(colour) {}
  void drawRect(CGRect rect) override {
    ++draws;
    CGContextRef c = UIGraphicsGetCurrentContext();
    CGContextSetRGBFillColor(c, colour_.red, colour_.green, colour_.blue, colour_.alpha);
    CGContextFillRect(c, rect);
  }
  void setColour(UIColor colour) { colour_ = colour; }
  void touchesBegan(const UITouchSet& t, const UIEvent* e) override { record('b', t, e); }
  void touchesMoved(const UITouchSet& t, const UIEvent* e) override { record('m', t, e); }
  void touchesEnded(const UITouchSet& t, const UIEvent* e) override { record('e', t, e); }
  void touchesCancelled(const UITouchSet& t, const UIEvent* e) override { record('c', t, e); }

  int draws = 0;
  std::string phases;
  CGPoint last{-1, -1};

 private:
  void record(char phase, const UITouchSet&, const UIEvent* event) {
    phases += phase;
    last = event->touchesForView(this).anyObject()->locationInView(this);
  }
  UIColor colour_;
};

// A view with a GL layer whose "presented" frame is filled by hand: the top row one colour, the
// rest another (rows arrive bottom-up, as GL reads them).
std::shared_ptr<UIView> glView(std::uint8_t topRed, std::uint8_t restRed, bool opaque = true) {
  auto view = std::make_shared<UIView>(CGRectMake(0, 0, 320, 480), std::make_unique<CAEAGLLayer>());
  auto& layer = static_cast<CAEAGLLayer&>(view->layer());
  layer.setOpaque(opaque);
  layer.prepareStorage(640, 960);
  for (int row = 0; row < 960; ++row) {
    const std::uint8_t red = row == 959 ? topRed : restRed;
    for (int x = 0; x < 640; ++x) {
      std::uint8_t* p = layer.storage() + (std::size_t(row) * 640 + x) * 4;
      p[0] = red;
      p[1] = 0;
      p[2] = 0;
      p[3] = opaque ? 255 : red;
    }
  }
  layer.didPresent();
  return view;
}

const std::uint8_t* at(const UIWindow& window, int x, int y) {
  return window.framePixels().data() + (std::size_t(y) * window.pixelWidth() + x) * 4;
}

}  // namespace

TEST(UIWindowTest, CompositesGlPixelsThenTwoDViewsInOrder) {
  UIWindow window;
  ASSERT_EQ(window.pixelWidth(), 640);
  ASSERT_EQ(window.pixelHeight(), 960);
  window.composite();
  EXPECT_EQ(at(window, 5, 5)[3], 255);  // empty window: opaque black
  EXPECT_EQ(at(window, 5, 5)[0], 0);

  window.addSubview(glView(200, 100));
  auto half = std::make_shared<PaintView>(CGRectMake(10, 20, 100, 50), UIColor{0, 0, 1, 0.5f});
  auto child = std::make_shared<PaintView>(CGRectMake(5, 5, 10, 10), UIColor{0, 1, 0, 1});
  half->addSubview(child);
  window.addSubview(half);
  window.composite();

  EXPECT_EQ(at(window, 300, 0)[0], 200);  // GL top row first
  EXPECT_EQ(at(window, 300, 959)[0], 100);
  // Half-transparent blue over red 100: premultiplied source over.
  const std::uint8_t* p = at(window, 2 * 10 + 2, 2 * 20 + 2);
  EXPECT_NEAR(p[0], 50, 1);
  EXPECT_NEAR(p[2], 128, 1);
  EXPECT_EQ(p[3], 255);
  EXPECT_EQ(at(window, 2 * 10 - 1, 2 * 20 + 2)[2], 0);  // just left of the view
  // The child sits at its parent's origin plus its own, drawn after its parent.
  const std::uint8_t* g = at(window, 2 * 15 + 1, 2 * 25 + 1);
  EXPECT_EQ(g[1], 255);
  EXPECT_EQ(g[0], 0);

  half->setHidden(true);  // hides the child too
  window.composite();
  EXPECT_EQ(at(window, 2 * 15 + 1, 2 * 25 + 1)[1], 0);
  EXPECT_EQ(at(window, 2 * 15 + 1, 2 * 25 + 1)[0], 100);
}

TEST(UIWindowTest, TranslucentGlLayersBlendAndViewsClipAtTheEdges) {
  UIWindow window;
  window.setBackgroundColor(UIColor{1, 1, 1, 1});
  window.addSubview(glView(0, 128, false));  // premultiplied half red
  auto off = std::make_shared<PaintView>(CGRectMake(300, 470, 100, 100), UIColor{0, 1, 0, 1});
  window.addSubview(off);
  window.composite();
  const std::uint8_t* p = at(window, 100, 100);
  EXPECT_NEAR(p[0], 128 + 127, 1);
  EXPECT_NEAR(p[1], 127, 1);
  EXPECT_EQ(at(window, 639, 959)[1], 255);
  EXPECT_EQ(at(window, 599, 939)[1], 127);
}

TEST(UIWindowTest, ViewsRedrawOnlyWhenMarked) {
  UIWindow window;
  auto view = std::make_shared<PaintView>(CGRectMake(0, 0, 320, 480), UIColor{1, 0, 0, 1});
  window.addSubview(view);
  window.composite();
  window.composite();
  EXPECT_EQ(view->draws, 1);
  view->setColour(UIColor{0, 1, 0, 1});
  window.composite();
  EXPECT_EQ(at(window, 10, 10)[0], 255);  // old drawing kept
  view->setNeedsDisplay();
  window.composite();
  EXPECT_EQ(view->draws, 2);
  EXPECT_EQ(at(window, 10, 10)[1], 255);
  view->setFrame(CGRectMake(0, 0, 160, 480));  // a new size needs a new drawing
  window.composite();
  EXPECT_EQ(view->draws, 3);
  EXPECT_EQ(at(window, 400, 10)[1], 0);
}

TEST(UIWindowTest, TouchesGoToTheFrontmostViewUnderTheFingerUntilTheyEnd) {
  auto window = std::make_shared<UIWindow>();
  auto back = std::make_shared<PaintView>(CGRectMake(0, 0, 320, 480), UIColor{});
  auto front = std::make_shared<PaintView>(CGRectMake(100, 200, 100, 100), UIColor{});
  window->addSubview(back);
  window->addSubview(front);

  window->sendTouch(UITouchPhaseBegan, CGPointMake(150, 250));
  window->sendTouch(UITouchPhaseMoved, CGPointMake(10, 10));  // leaves the view: still its touch
  window->sendTouch(UITouchPhaseEnded, CGPointMake(12, 14));
  EXPECT_EQ(front->phases, "bme");
  EXPECT_EQ(back->phases, "");
  EXPECT_EQ(front->last, CGPointMake(-88, -186));  // in the view's own coordinates

  window->sendTouch(UITouchPhaseMoved, CGPointMake(12, 14));  // no touch under way: dropped
  window->sendTouch(UITouchPhaseBegan, CGPointMake(50, 50));
  window->sendTouch(UITouchPhaseBegan, CGPointMake(60, 60));  // a new touch cancels the old one
  window->sendTouch(UITouchPhaseCancelled, CGPointMake(60, 60));
  EXPECT_EQ(back->phases, "bcbc");
  EXPECT_EQ(back->last, CGPointMake(60, 60));

  front->setUserInteractionEnabled(false);  // taps fall through to the view below
  window->sendTouch(UITouchPhaseBegan, CGPointMake(150, 250));
  EXPECT_EQ(back->phases, "bcbcb");
  window->sendTouch(UITouchPhaseEnded, CGPointMake(150, 250));
  back->setHidden(true);
  window->sendTouch(UITouchPhaseBegan, CGPointMake(10, 10));  // nothing there
  window->sendTouch(UITouchPhaseEnded, CGPointMake(10, 10));
  EXPECT_EQ(back->phases, "bcbcbe");
  window->sendTouch(UITouchPhaseBegan, CGPointMake(320, 10));  // the far edge is outside
  EXPECT_EQ(back->phases, "bcbcbe");
}

TEST(UIWindowTest, MakeKeyAndVisibleLaysOutNewViewsOnce) {
  class LayoutView : public UIView {
   public:
    using UIView::UIView;
    void layoutSubviews() override { ++layouts; }
    int layouts = 0;
  };
  UIWindow window;
  auto view = std::make_shared<LayoutView>(CGRectMake(0, 0, 320, 480));
  window.addSubview(view);
  window.makeKeyAndVisible();
  window.makeKeyAndVisible();
  EXPECT_EQ(view->layouts, 1);
  view->setFrame(CGRectMake(0, 0, 320, 240));
  window.makeKeyAndVisible();
  EXPECT_EQ(view->layouts, 2);
  view->removeFromSuperview();
  EXPECT_TRUE(window.subviews().empty());
  EXPECT_EQ(view->superview(), nullptr);
}
