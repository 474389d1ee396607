#pragma once
// UIView stand-in: a rectangle in its superview (points), a layer, subviews stacked back to
// front, drawing through drawRect, and touches. Views are shared: the superview holds its
// subviews. Everything here runs on the main thread.
//
// Drawing: a view whose layer is a plain CALayer is drawn by the window into a backing store of
// its own (frame size × window scale, transparent unless it has a background colour), with a
// cairo-backed context current (UIGraphicsGetCurrentContext) whose origin is the view's top-left
// corner, y down, in points. drawRect runs only when the view was marked with setNeedsDisplay
// (a new view starts marked); otherwise the window reuses the last drawing. A view with a
// CAEAGLLayer is not drawn; the window shows the layer's last presented pixels.
#include <memory>
#include <optional>
#include <vector>

#include "platform/CALayer.h"
#include "platform/CoreGraphics.h"

class UIView;

enum UITouchPhase {
  UITouchPhaseBegan,
  UITouchPhaseMoved,
  UITouchPhaseStationary,
  UITouchPhaseEnded,
  UITouchPhaseCancelled,
};

// One finger (or the mouse), from touch-down to lift. Positions are kept in window points.
class UITouch {
 public:
  UITouch(UIView* view, CGPoint windowPoint, UITouchPhase phase)
      : view_(view), point_(windowPoint), phase_(phase) {}
  // The position in `view`'s coordinates (its bounds' origin is its top-left corner); null
  // gives window coordinates.
  CGPoint locationInView(const UIView* view) const;
  UIView* view() const { return view_; }
  UITouchPhase phase() const { return phase_; }
  void update(CGPoint windowPoint, UITouchPhase phase) {
    point_ = windowPoint;
    phase_ = phase;
  }

 private:
  UIView* view_;
  CGPoint point_;
  UITouchPhase phase_;
};

// The set of touches handed to a touch operation.
class UITouchSet {
 public:
  UITouchSet() = default;
  explicit UITouchSet(std::vector<UITouch*> touches) : touches_(std::move(touches)) {}
  UITouch* anyObject() const { return touches_.empty() ? nullptr : touches_.front(); }
  std::size_t count() const { return touches_.size(); }
  const std::vector<UITouch*>& allObjects() const { return touches_; }

 private:
  std::vector<UITouch*> touches_;
};

class UIEvent {
 public:
  explicit UIEvent(UITouchSet touches) : touches_(std::move(touches)) {}
  UITouchSet allTouches() const { return touches_; }
  UITouchSet touchesForView(const UIView* view) const;

 private:
  UITouchSet touches_;
};

// The archived form a view is created from (the interface file's stored properties).
struct NSCoder {
  CGRect frame = CGRectMake(0, 0, 320, 480);
};

struct UIColor {
  CGFloat red, green, blue, alpha;
};

class UIView : public std::enable_shared_from_this<UIView> {
 public:
  explicit UIView(CGRect frame, std::unique_ptr<CALayer> layer = nullptr);
  explicit UIView(const NSCoder& coder, std::unique_ptr<CALayer> layer = nullptr);
  virtual ~UIView();
  UIView(const UIView&) = delete;
  UIView& operator=(const UIView&) = delete;

  CGRect frame() const { return frame_; }
  void setFrame(CGRect frame);  // also marks the view for layout and display
  CGRect bounds() const { return CGRect{{0, 0}, frame_.size}; }
  CALayer& layer() const { return *layer_; }

  void addSubview(std::shared_ptr<UIView> view);  // on top of the others; marks it for layout
  void removeFromSuperview();
  const std::vector<std::shared_ptr<UIView>>& subviews() const { return subviews_; }
  UIView* superview() const { return superview_; }

  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden) { hidden_ = hidden; }
  bool isUserInteractionEnabled() const { return userInteraction_; }
  void setUserInteractionEnabled(bool enabled) { userInteraction_ = enabled; }
  std::optional<UIColor> backgroundColor() const { return background_; }
  void setBackgroundColor(std::optional<UIColor> color);

  void setNeedsDisplay() { needsDisplay_ = true; }
  bool needsDisplay() const { return needsDisplay_; }
  void setNeedsLayout() { needsLayout_ = true; }
  // Runs layoutSubviews on this view and its subviews where marked.
  void layoutIfNeeded();

  virtual void layoutSubviews() {}
  virtual void drawRect(CGRect rect);
  virtual void touchesBegan(const UITouchSet& touches, const UIEvent* event);
  virtual void touchesMoved(const UITouchSet& touches, const UIEvent* event);
  virtual void touchesEnded(const UITouchSet& touches, const UIEvent* event);
  virtual void touchesCancelled(const UITouchSet& touches, const UIEvent* event);

  // The frontmost, deepest visible view taking touches at `point` (this view's coordinates).
  UIView* hitTest(CGPoint point);
  // `point` in this view's coordinates, in the coordinates of the topmost superview.
  CGPoint convertPointToRoot(CGPoint point) const;

  // For the window: draws the view into its backing store when marked or resized, clearing the
  // mark. The store is premultiplied ARGB (cairo's native-endian 32-bit words).
  struct Backing;
  const Backing& displayIfNeeded(CGFloat scale);
  // Changes each time displayIfNeeded draws (see nextContentVersion).
  std::uint64_t displayVersion() const { return displayVersion_; }

 private:
  CGRect frame_;
  std::unique_ptr<CALayer> layer_;
  std::vector<std::shared_ptr<UIView>> subviews_;
  UIView* superview_ = nullptr;
  std::optional<UIColor> background_;
  bool hidden_ = false;
  bool userInteraction_ = true;
  bool needsDisplay_ = true;
  bool needsLayout_ = true;
  std::unique_ptr<Backing> backing_;
  std::uint64_t displayVersion_ = 0;
};

struct UIView::Backing {
  int width = 0;   // pixels
  int height = 0;
  int stride = 0;  // bytes per row
  const unsigned char* data = nullptr;
  void* surface = nullptr;  // the cairo surface behind `data`
  ~Backing();
};
