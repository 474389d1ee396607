#include "platform/UIWindow.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "CoreGraphicsCairo.h"

namespace {

// Premultiplied RGBA over RGBA.
void blendRgbaOverRgba(const std::uint8_t* src, std::uint8_t* dst, std::size_t count) {
  for (std::size_t x = 0; x < count; ++x, src += 4, dst += 4) {
    const std::uint8_t a = src[3];
    if (a == 0) continue;
    if (a == 255) {
      std::memcpy(dst, src, 4);
      continue;
    }
    for (int c = 0; c < 4; ++c) dst[c] = platform::cg::over(src[c], dst[c], a);
  }
}

// The part of a w × h source placed at (x, y) that lies inside a W × H target.
struct Span {
  int srcX, srcY, dstX, dstY, width, height;
  bool empty() const { return width <= 0 || height <= 0; }
};

Span clip(int x, int y, int w, int h, int W, int H) {
  const int left = std::max(0, -x);
  const int top = std::max(0, -y);
  const int right = std::min(w, W - x);
  const int bottom = std::min(h, H - y);
  return Span{left, top, x + left, y + top, right - left, bottom - top};
}

}  // namespace

UIWindow::UIWindow(CGRect frame, CGFloat scale)
    : UIView(frame),
      scale_(scale),
      pixelWidth_(std::max(0, static_cast<int>(std::lround(frame.size.width * scale)))),
      pixelHeight_(std::max(0, static_cast<int>(std::lround(frame.size.height * scale)))),
      frame_(std::size_t(pixelWidth_) * std::size_t(pixelHeight_) * 4, 0) {}

UIWindow::~UIWindow() = default;

void UIWindow::makeKeyAndVisible() { layoutIfNeeded(); }

const std::uint8_t* UIWindow::composite() {
  std::array<std::uint8_t, 4> base{0, 0, 0, 255};
  if (auto c = backgroundColor()) {
    // The window's own colour, premultiplied, over black.
    const double a = std::clamp<double>(c->alpha, 0, 1);
    base[0] = static_cast<std::uint8_t>(std::lround(std::clamp<double>(c->red, 0, 1) * a * 255));
    base[1] = static_cast<std::uint8_t>(std::lround(std::clamp<double>(c->green, 0, 1) * a * 255));
    base[2] = static_cast<std::uint8_t>(std::lround(std::clamp<double>(c->blue, 0, 1) * a * 255));
  }
  pieces_.clear();
  auto children = subviews();
  for (auto& child : children) collect(*child, child->frame().origin);
  // The same pieces at the same versions make the same frame.
  if (frameVersion_ != 0 && base == base_ && pieces_ == lastPieces_) return frame_.data();

  if (!coversFrame(pieces_)) {
    for (std::size_t i = 0; i < frame_.size(); i += 4) std::memcpy(&frame_[i], base.data(), 4);
  }
  for (const Piece& piece : pieces_) draw(piece);
  base_ = base;
  std::swap(pieces_, lastPieces_);
  frameVersion_ = nextContentVersion();
  return frame_.data();
}

// The backmost piece is an opaque GL frame over the whole window: nothing of the base shows.
bool UIWindow::coversFrame(const std::vector<Piece>& pieces) const {
  if (pieces.empty() || !pieces.front().gl || !pieces.front().opaque) return false;
  const Piece& p = pieces.front();
  return p.x <= 0 && p.y <= 0 && p.x + p.gl->presentedWidth() >= pixelWidth_ &&
         p.y + p.gl->presentedHeight() >= pixelHeight_ && !p.gl->presentedPixels().empty();
}

void UIWindow::collect(UIView& view, CGPoint origin) {
  if (view.isHidden()) return;
  Piece piece;
  piece.view = &view;
  piece.x = static_cast<int>(std::lround(origin.x * scale_));
  piece.y = static_cast<int>(std::lround(origin.y * scale_));
  if (auto* gl = dynamic_cast<CAEAGLLayer*>(&view.layer())) {
    piece.gl = gl;
    piece.opaque = gl->isOpaque();
    piece.version = gl->contentVersion();
  } else {
    // Redraws the view first when it was marked.
    piece.backing = &view.displayIfNeeded(scale_);
    piece.version = view.displayVersion();
  }
  pieces_.push_back(piece);
  auto children = view.subviews();
  for (auto& child : children) {
    const CGPoint o = child->frame().origin;
    collect(*child, CGPoint{origin.x + o.x, origin.y + o.y});
  }
}

void UIWindow::draw(const Piece& piece) {
  const std::size_t frameRow = std::size_t(pixelWidth_) * 4;
  if (const CAEAGLLayer* gl = piece.gl) {
    const int w = gl->presentedWidth();
    const Span s = clip(piece.x, piece.y, w, gl->presentedHeight(), pixelWidth_, pixelHeight_);
    if (s.empty() || gl->presentedPixels().empty()) return;
    for (int row = 0; row < s.height; ++row) {
      const std::uint8_t* src =
          gl->presentedPixels().data() + (std::size_t(s.srcY + row) * std::size_t(w) + s.srcX) * 4;
      std::uint8_t* dst = frame_.data() + std::size_t(s.dstY + row) * frameRow + s.dstX * 4;
      if (piece.opaque) {
        std::memcpy(dst, src, std::size_t(s.width) * 4);
      } else {
        blendRgbaOverRgba(src, dst, std::size_t(s.width));
      }
    }
    return;
  }
  const UIView::Backing& b = *piece.backing;
  const Span s = clip(piece.x, piece.y, b.width, b.height, pixelWidth_, pixelHeight_);
  if (s.empty() || !b.data) return;
  for (int row = 0; row < s.height; ++row) {
    const auto* src = reinterpret_cast<const std::uint32_t*>(
        b.data + std::size_t(s.srcY + row) * std::size_t(b.stride)) + s.srcX;
    std::uint8_t* dst = frame_.data() + std::size_t(s.dstY + row) * frameRow + s.dstX * 4;
    platform::cg::blendArgbOverRgba(src, dst, std::size_t(s.width));
  }
}

void UIWindow::sendTouch(UITouchPhase phase, CGPoint point) {
  if (phase == UITouchPhaseBegan) {
    if (touch_) deliver(UITouchPhaseCancelled);
    touch_.reset();
    touchView_.reset();
    UIView* hit = hitTest(point);
    if (!hit || hit == this) return;
    touchView_ = hit->shared_from_this();
    touch_ = std::make_unique<UITouch>(hit, point, UITouchPhaseBegan);
    deliver(UITouchPhaseBegan);
    return;
  }
  if (!touch_ || phase == UITouchPhaseStationary) return;
  touch_->update(point, phase);
  deliver(phase);
  if (phase == UITouchPhaseEnded || phase == UITouchPhaseCancelled) {
    touch_.reset();
    touchView_.reset();
  }
}

void UIWindow::deliver(UITouchPhase phase) {
  // Keep both alive through the handler, which may change the hierarchy.
  auto view = touchView_;
  if (!view || !touch_) return;
  if (phase == UITouchPhaseCancelled) touch_->update(touch_->locationInView(nullptr), phase);
  const UITouchSet touches({touch_.get()});
  const UIEvent event(touches);
  switch (phase) {
    case UITouchPhaseBegan: view->touchesBegan(touches, &event); break;
    case UITouchPhaseMoved: view->touchesMoved(touches, &event); break;
    case UITouchPhaseEnded: view->touchesEnded(touches, &event); break;
    case UITouchPhaseCancelled: view->touchesCancelled(touches, &event); break;
    case UITouchPhaseStationary: break;
  }
}
