#include "MicrophoneOffView.h"

#include "platform/UIImage.h"

namespace {
constexpr CGFloat kMargin = 6;
constexpr CGFloat kPadding = 4;
constexpr CGFloat kFontSize = 12;
}  // namespace

MicrophoneOffView::MicrophoneOffView() : UIView(CGRectMake(0, 0, 0, 0)) {}

std::shared_ptr<MicrophoneOffView> MicrophoneOffView::init() {
  auto view = std::make_shared<MicrophoneOffView>();
  const auto font = UIFont::systemFontOfSize(kFontSize);
  const CGSize text = sizeWithFont(kText, *font);
  view->setFrame(CGRectMake(kMargin, kMargin, text.width + 2 * kPadding, text.height + 2 * kPadding));
  view->setUserInteractionEnabled(false);
  return view;
}

void MicrophoneOffView::placeClearOfTuning(bool tuningShown) {
  CGRect f = frame();
  f.origin.x = tuningShown ? 320 - kMargin - f.size.width : kMargin;
  setFrame(f);
}

void MicrophoneOffView::drawRect(CGRect rect) {
  CGContextRef context = UIGraphicsGetCurrentContext();
  CGContextSetRGBFillColor(context, 0.8f, 0.1f, 0.1f, 0.9f);
  CGContextFillRect(context, rect);
  CGContextSetRGBFillColor(context, 1, 1, 1, 1);
  drawAtPoint(kText, CGPointMake(kPadding, kPadding), *UIFont::systemFontOfSize(kFontSize));
}
