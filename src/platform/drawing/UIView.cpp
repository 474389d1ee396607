#include "platform/UIView.h"

#include <algorithm>
#include <cmath>

#include "CoreGraphicsCairo.h"
#include "platform/UIImage.h"

CGPoint UITouch::locationInView(const UIView* view) const {
  if (!view) return point_;
  const CGPoint origin = view->convertPointToRoot(CGPoint{0, 0});
  return CGPoint{point_.x - origin.x, point_.y - origin.y};
}

UITouchSet UIEvent::touchesForView(const UIView* view) const {
  std::vector<UITouch*> mine;
  for (UITouch* touch : touches_.allObjects()) {
    if (touch->view() == view) mine.push_back(touch);
  }
  return UITouchSet(std::move(mine));
}

UIView::Backing::~Backing() {
  if (surface) cairo_surface_destroy(static_cast<cairo_surface_t*>(surface));
}

UIView::UIView(CGRect frame, std::unique_ptr<CALayer> layer)
    : frame_(frame), layer_(layer ? std::move(layer) : std::make_unique<CALayer>()) {
  layer_->setBounds(bounds());
}

UIView::UIView(const NSCoder& coder, std::unique_ptr<CALayer> layer)
    : UIView(coder.frame, std::move(layer)) {}

UIView::~UIView() {
  for (auto& child : subviews_) child->superview_ = nullptr;
}

void UIView::setFrame(CGRect frame) {
  const bool resized = !(frame.size == frame_.size);
  frame_ = frame;
  layer_->setBounds(bounds());
  if (resized) {
    needsLayout_ = true;
    needsDisplay_ = true;
  }
}

void UIView::addSubview(std::shared_ptr<UIView> view) {
  if (!view || view.get() == this) return;
  if (view->superview_) view->removeFromSuperview();
  view->superview_ = this;
  view->needsLayout_ = true;
  subviews_.push_back(std::move(view));
}

void UIView::removeFromSuperview() {
  UIView* parent = superview_;
  if (!parent) return;
  auto& siblings = parent->subviews_;
  auto it = std::find_if(siblings.begin(), siblings.end(),
                         [this](const auto& v) { return v.get() == this; });
  if (it == siblings.end()) return;
  std::shared_ptr<UIView> keep = *it;  // erasing may drop the last reference to this view
  siblings.erase(it);
  superview_ = nullptr;
}

void UIView::setBackgroundColor(std::optional<UIColor> color) {
  background_ = color;
  needsDisplay_ = true;
}

void UIView::layoutIfNeeded() {
  if (needsLayout_) {
    needsLayout_ = false;
    layoutSubviews();
  }
  auto children = subviews_;  // layout may change the list
  for (auto& child : children) child->layoutIfNeeded();
}

void UIView::drawRect(CGRect) {}
void UIView::touchesBegan(const UITouchSet&, const UIEvent*) {}
void UIView::touchesMoved(const UITouchSet&, const UIEvent*) {}
void UIView::touchesEnded(const UITouchSet&, const UIEvent*) {}
void UIView::touchesCancelled(const UITouchSet&, const UIEvent*) {}

UIView* UIView::hitTest(CGPoint point) {
  if (hidden_ || !userInteraction_ || !CGRectContainsPoint(bounds(), point)) return nullptr;
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
    const CGRect f = (*it)->frame();
    if (UIView* hit = (*it)->hitTest(CGPoint{point.x - f.origin.x, point.y - f.origin.y})) {
      return hit;
    }
  }
  return this;
}

CGPoint UIView::convertPointToRoot(CGPoint point) const {
  for (const UIView* v = this; v->superview_; v = v->superview_) {
    point.x += v->frame_.origin.x;
    point.y += v->frame_.origin.y;
  }
  return point;
}

const UIView::Backing& UIView::displayIfNeeded(CGFloat scale) {
  const int w = std::max(0, static_cast<int>(std::lround(frame_.size.width * scale)));
  const int h = std::max(0, static_cast<int>(std::lround(frame_.size.height * scale)));
  if (!backing_ || backing_->width != w || backing_->height != h) {
    backing_ = std::make_unique<Backing>();
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    backing_->surface = surface;
    backing_->width = w;
    backing_->height = h;
    backing_->stride = cairo_image_surface_get_stride(surface);
    backing_->data = cairo_image_surface_get_data(surface);
    needsDisplay_ = true;
  }
  if (!needsDisplay_) return *backing_;
  needsDisplay_ = false;
  displayVersion_ = nextContentVersion();
  auto* surface = static_cast<cairo_surface_t*>(backing_->surface);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) return *backing_;
  cairo_t* cr = cairo_create(surface);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  cairo_scale(cr, scale, scale);
  CGContextRef context = platform::cg::contextForCairo(cr);
  if (background_) {
    CGContextSetRGBFillColor(context, background_->red, background_->green, background_->blue,
                             background_->alpha);
    CGContextFillRect(context, bounds());
    CGContextSetRGBFillColor(context, 0, 0, 0, 1);
  }
  UIGraphicsPushContext(context);
  drawRect(bounds());
  UIGraphicsPopContext();
  CGContextRelease(context);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  return *backing_;
}
