#include "WindowControls.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/UIImage.h"

namespace {

constexpr CGFloat kScreenWidth = 320;
constexpr CGFloat kScreenHeight = 480;
constexpr CGFloat kButtonWidth = 40;
constexpr CGFloat kButtonHeight = 48;
constexpr CGFloat kEdge = 4;

void roundedRect(CGContextRef c, CGRect r, CGFloat radius) {
  const CGFloat x0 = r.origin.x, y0 = r.origin.y;
  const CGFloat x1 = x0 + r.size.width, y1 = y0 + r.size.height;
  CGContextBeginPath(c);
  CGContextAddArc(c, x1 - radius, y0 + radius, radius, -M_PI / 2, 0, 0);
  CGContextAddArc(c, x1 - radius, y1 - radius, radius, 0, M_PI / 2, 0);
  CGContextAddArc(c, x0 + radius, y1 - radius, radius, M_PI / 2, M_PI, 0);
  CGContextAddArc(c, x0 + radius, y0 + radius, radius, M_PI, 3 * M_PI / 2, 0);
  CGContextClosePath(c);
}

// Lines of `text` no wider than `width` at `font`, broken between words.
std::vector<std::string> wrap(const std::string& text, const UIFont& font, CGFloat width) {
  std::vector<std::string> lines;
  std::string line;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    const std::string longer = line.empty() ? word : line + " " + word;
    if (!line.empty() && sizeWithFont(longer, font).width > width) {
      lines.push_back(line);
      line = word;
    } else {
      line = longer;
    }
    at = end + 1;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

}  // namespace

class ControlButton : public UIView {
 public:
  ControlButton(CGRect frame, ControlAction action, const char* key,
                std::function<void(ControlAction)> onTap)
      : UIView(frame), action_(action), key_(key), onTap_(std::move(onTap)) {}

  void setOn(bool on) {
    if (on == on_) return;
    on_ = on;
    setNeedsDisplay();
  }

  void drawRect(CGRect) override {
    CGContextRef c = UIGraphicsGetCurrentContext();
    const CGRect b = bounds();
    CGContextSetRGBFillColor(c, 0.1, 0.1, 0.15, 0.55);
    roundedRect(c, b, 9);
    CGContextFillPath(c);
    const CGFloat cx = b.size.width / 2, cy = 18;
    CGContextSetRGBFillColor(c, 1, 1, 1, 1);
    CGContextSetRGBStrokeColor(c, 1, 1, 1, 1);
    switch (action_) {
      case ControlAction::Previous:
      case ControlAction::Next: {
        const CGFloat d = action_ == ControlAction::Next ? 1 : -1;
        CGContextBeginPath(c);
        CGContextMoveToPoint(c, cx + 8 * d, cy);
        CGContextAddLineToPoint(c, cx - 6 * d, cy - 9);
        CGContextAddLineToPoint(c, cx - 6 * d, cy + 9);
        CGContextClosePath(c);
        CGContextFillPath(c);
        break;
      }
      case ControlAction::Microphone:
        roundedRect(c, CGRectMake(cx - 4, cy - 12, 8, 15), 4);
        CGContextFillPath(c);
        CGContextSetLineWidth(c, 2);
        CGContextBeginPath(c);
        CGContextAddArc(c, cx, cy - 1, 7, 0, M_PI, 0);
        CGContextMoveToPoint(c, cx, cy + 6);
        CGContextAddLineToPoint(c, cx, cy + 10);
        CGContextStrokePath(c);
        if (on_) {  // off: struck through
          CGContextSetRGBStrokeColor(c, 0.95, 0.2, 0.2, 1);
          CGContextSetLineWidth(c, 3);
          CGContextBeginPath(c);
          CGContextMoveToPoint(c, cx - 10, cy - 11);
          CGContextAddLineToPoint(c, cx + 10, cy + 11);
          CGContextStrokePath(c);
        }
        break;
      case ControlAction::Record:
        CGContextSetRGBFillColor(c, 0.95, 0.2, 0.2, 1);
        if (on_) {  // recording: the stop square
          CGContextFillRect(c, CGRectMake(cx - 7, cy - 7, 14, 14));
        } else {
          CGContextFillEllipseInRect(c, CGRectMake(cx - 9, cy - 9, 18, 18));
        }
        break;
      case ControlAction::Help: {
        const auto font = UIFont::systemFontOfSize(22);
        const CGSize s = sizeWithFont("?", *font);
        drawAtPoint("?", CGPointMake(cx - s.width / 2, cy - s.height / 2), *font);
        break;
      }
    }
    CGContextSetRGBFillColor(c, 1, 1, 1, 0.85);
    const auto small = UIFont::systemFontOfSize(10);
    const CGSize s = sizeWithFont(key_, *small);
    drawAtPoint(key_, CGPointMake(cx - s.width / 2, b.size.height - s.height - 3), *small);
  }

  void touchesBegan(const UITouchSet&, const UIEvent*) override { pressed_ = true; }
  void touchesEnded(const UITouchSet& touches, const UIEvent*) override {
    const UITouch* touch = touches.anyObject();
    const bool inside = touch && CGRectContainsPoint(bounds(), touch->locationInView(this));
    if (pressed_ && inside && onTap_) onTap_(action_);
    pressed_ = false;
  }
  void touchesCancelled(const UITouchSet&, const UIEvent*) override { pressed_ = false; }

 private:
  ControlAction action_;
  std::string key_;
  std::function<void(ControlAction)> onTap_;
  bool on_ = false;
  bool pressed_ = false;
};

class HintView : public UIView {
 public:
  HintView() : UIView(CGRectMake(20, 64, kScreenWidth - 40, 58)) { setUserInteractionEnabled(false); }

  void setAlpha(double alpha) {
    if (alpha == alpha_) return;
    alpha_ = alpha;
    setNeedsDisplay();
  }

  void drawRect(CGRect) override {
    CGContextRef c = UIGraphicsGetCurrentContext();
    const CGRect b = bounds();
    CGContextSetRGBFillColor(c, 0.1, 0.1, 0.15, 0.6 * alpha_);
    roundedRect(c, b, 12);
    CGContextFillPath(c);
    CGContextSetRGBFillColor(c, 1, 1, 1, alpha_);
    const auto big = UIFont::systemFontOfSize(20);
    const auto small = UIFont::systemFontOfSize(11);
    const char* first = "Say something!";
    const char* second = "Drag sideways or press \u2190 \u2192 to change voice";
    drawAtPoint(first, CGPointMake((b.size.width - sizeWithFont(first, *big).width) / 2, 8), *big);
    drawAtPoint(second, CGPointMake((b.size.width - sizeWithFont(second, *small).width) / 2, 36), *small);
  }

 private:
  double alpha_ = 1;
};

class HelpCardView : public UIView {
 public:
  explicit HelpCardView(std::function<void()> close)
      : UIView(CGRectMake(0, 0, kScreenWidth, kScreenHeight)), close_(std::move(close)) {}

  void drawRect(CGRect) override {
    CGContextRef c = UIGraphicsGetCurrentContext();
    CGContextSetRGBFillColor(c, 0, 0, 0, 0.45);
    CGContextFillRect(c, bounds());
    const auto& lines = WindowControls::helpLines();
    const CGFloat row = 19;
    const CGRect card = CGRectMake(12, 40, kScreenWidth - 24, 84 + row * lines.size());
    CGContextSetRGBFillColor(c, 1, 1, 1, 0.94);
    roundedRect(c, card, 14);
    CGContextFillPath(c);
    CGContextSetRGBFillColor(c, 0.1, 0.1, 0.15, 1);
    const auto title = UIFont::systemFontOfSize(18);
    const auto text = UIFont::systemFontOfSize(11);
    const CGFloat x = card.origin.x + 14;
    drawAtPoint("Quibblers", CGPointMake(x, card.origin.y + 12), *title);
    drawAtPoint("Say something: the guinea pig says it back.", CGPointMake(x, card.origin.y + 38), *text);
    CGFloat y = card.origin.y + 64;
    for (const auto& line : lines) {
      CGContextSetRGBFillColor(c, 0.55, 0.15, 0.1, 1);
      drawAtPoint(line.keys, CGPointMake(x, y), *text);
      CGContextSetRGBFillColor(c, 0.1, 0.1, 0.15, 1);
      drawAtPoint(line.action, CGPointMake(x + 104, y), *text);
      y += row;
    }
    CGContextSetRGBFillColor(c, 0.4, 0.4, 0.45, 1);
    drawAtPoint("Tap, ? or Esc closes this card.", CGPointMake(x, y + 2), *text);
  }

  void touchesBegan(const UITouchSet&, const UIEvent*) override {
    if (close_) close_();
  }

 private:
  std::function<void()> close_;
};

// A line or a few of text on a dark rounded panel, centred at `centreX`; optionally led by a red
// dot.
class LabelView : public UIView {
 public:
  LabelView(CGFloat fontSize, bool dot) : UIView(CGRectMake(0, 0, 0, 0)), fontSize_(fontSize), dot_(dot) {
    setUserInteractionEnabled(false);
  }

  void setText(const std::string& text, CGFloat maxWidth) {
    const auto font = UIFont::systemFontOfSize(fontSize_);
    std::vector<std::string> lines = wrap(text, *font, maxWidth - 2 * kPad - (dot_ ? kDot : 0));
    if (lines == lines_) return;
    lines_ = std::move(lines);
    width_ = 0;
    for (const auto& l : lines_) width_ = std::max(width_, sizeWithFont(l, *font).width);
    lineHeight_ = sizeWithFont("Ag", *font).height;
    setNeedsDisplay();
  }

  CGSize size() const {
    return CGSizeMake(std::ceil(width_ + 2 * kPad + (dot_ ? kDot : 0)),
                      std::ceil(lineHeight_ * lines_.size() + 2 * kPad - 2));
  }

  void drawRect(CGRect) override {
    CGContextRef c = UIGraphicsGetCurrentContext();
    const CGRect b = bounds();
    CGContextSetRGBFillColor(c, 0.1, 0.1, 0.15, 0.75);
    roundedRect(c, b, 8);
    CGContextFillPath(c);
    CGFloat x = kPad;
    if (dot_) {
      CGContextSetRGBFillColor(c, 0.95, 0.15, 0.15, 1);
      CGContextFillEllipseInRect(c, CGRectMake(kPad, (b.size.height - 10) / 2, 10, 10));
      x += kDot;
    }
    CGContextSetRGBFillColor(c, 1, 1, 1, 1);
    const auto font = UIFont::systemFontOfSize(fontSize_);
    CGFloat y = kPad - 1;
    for (const auto& l : lines_) {
      drawAtPoint(l, CGPointMake(x, y), *font);
      y += lineHeight_;
    }
  }

 private:
  static constexpr CGFloat kPad = 6;
  static constexpr CGFloat kDot = 15;
  CGFloat fontSize_;
  bool dot_;
  std::vector<std::string> lines_;
  CGFloat width_ = 0;
  CGFloat lineHeight_ = 0;
};

const std::vector<WindowControls::HelpLine>& WindowControls::helpLines() {
  static const std::vector<HelpLine> lines = {
      {"Drag sideways", "the next or previous character"},
      {"\u2190  \u2192", "previous / next character"},
      {"1  2  3  4", "that character"},
      {"M", "microphone off / on"},
      {"R", "record a video / stop and save"},
      {"", "(saved in Videos/Quibblers)"},
      {"?  or  F1", "this help"},
      {"T", "tuning overlay (tap to set values)"},
      {"F11", "full screen"},
      {"Q  or  Esc", "quit"},
  };
  return lines;
}

WindowControls::WindowControls(UIWindow& window, std::function<void(ControlAction)> onTap)
    : window_(window) {
  const CGFloat middle = 160;  // beside the space above the head, clear of the ears
  const CGFloat right = kScreenWidth - kEdge - kButtonWidth;
  struct Spec {
    ControlAction action;
    const char* key;
    CGFloat x, y;
  };
  const Spec specs[] = {
      {ControlAction::Previous, "\u2190", kEdge, middle},
      {ControlAction::Next, "\u2192", right, middle},
      {ControlAction::Microphone, "M", right - 2 * (kButtonWidth + kEdge), kEdge},
      {ControlAction::Record, "R", right - (kButtonWidth + kEdge), kEdge},
      {ControlAction::Help, "?", right, kEdge},
  };
  for (const auto& s : specs) {
    buttons_.push_back(std::make_shared<ControlButton>(CGRectMake(s.x, s.y, kButtonWidth, kButtonHeight),
                                                       s.action, s.key, onTap));
  }
  hint_ = std::make_shared<HintView>();
  hint_->setHidden(true);
  help_ = std::make_shared<HelpCardView>([this] { setHelpShown(false); });
  help_->setHidden(true);
  recording_ = std::make_shared<LabelView>(12, true);
  recording_->setHidden(true);
  toast_ = std::make_shared<LabelView>(12, false);
  toast_->setHidden(true);
  raise();
}

WindowControls::~WindowControls() = default;

void WindowControls::raise() {
  for (auto& b : buttons_) window_.addSubview(b);
  window_.addSubview(hint_);
  window_.addSubview(recording_);
  window_.addSubview(toast_);
  window_.addSubview(help_);
}

void WindowControls::setTuningShown(bool shown) {
  tuningShown_ = shown;
  for (auto& b : buttons_) b->setHidden(shown);
  if (shown) hint_->setHidden(true);
}

void WindowControls::setMicrophoneOff(bool off) { buttons_[2]->setOn(off); }

void WindowControls::setRecording(bool recording, double elapsedSeconds) {
  buttons_[3]->setOn(recording);
  recording_->setHidden(!recording);
  if (!recording) return;
  const int seconds = static_cast<int>(elapsedSeconds);
  char text[32];
  std::snprintf(text, sizeof text, "%d:%02d", seconds / 60, seconds % 60);
  recording_->setText(text, kScreenWidth);
  const CGSize s = recording_->size();
  const CGRect f = CGRectMake(kScreenWidth - kEdge - s.width, kEdge + kButtonHeight + 4, s.width, s.height);
  if (!(f == recording_->frame())) recording_->setFrame(f);
}

void WindowControls::setHelpShown(bool shown) {
  help_->setHidden(!shown);
  if (shown) help_->setNeedsDisplay();
}

bool WindowControls::helpShown() const { return !help_->isHidden(); }

void WindowControls::showHint(double now) {
  if (tuningShown_) return;
  hint_->setAlpha(1);
  hint_->setHidden(false);
  hintFadeStart_ = now + kHintSeconds;
}

bool WindowControls::hintShown() const { return !hint_->isHidden(); }

void WindowControls::answered(double now) {
  if (hintShown()) hintFadeStart_ = std::min(hintFadeStart_, now);
}

void WindowControls::toast(const std::string& text, double now, double seconds) {
  toastText_ = text;
  toastEnd_ = now + seconds;
  toast_->setText(text, kScreenWidth - 24);
  const CGSize s = toast_->size();
  toast_->setFrame(CGRectMake((kScreenWidth - s.width) / 2, kScreenHeight - 12 - s.height, s.width, s.height));
  toast_->setHidden(false);
}

const std::string& WindowControls::toastText() const {
  static const std::string none;
  return toast_->isHidden() ? none : toastText_;
}

void WindowControls::tick(double now) {
  if (hintShown() && now >= hintFadeStart_) {
    const double alpha = 1 - (now - hintFadeStart_) / kFadeSeconds;
    if (alpha <= 0) {
      hint_->setHidden(true);
    } else {
      hint_->setAlpha(std::round(alpha * 16) / 16);  // a few steps, not a redraw every tick
    }
  }
  if (!toast_->isHidden() && now >= toastEnd_) toast_->setHidden(true);
}

void WindowControls::hideForCapture() {
  hiddenForCapture_.clear();
  auto hide = [this](std::shared_ptr<UIView> v) {
    hiddenForCapture_.emplace_back(v, v->isHidden());
    v->setHidden(true);
  };
  for (auto& b : buttons_) hide(b);
  hide(hint_);
  hide(help_);
  hide(recording_);
  hide(toast_);
}

void WindowControls::restore() {
  for (auto& [view, hidden] : hiddenForCapture_) view->setHidden(hidden);
  hiddenForCapture_.clear();
}
