#include "TuningPanelView.h"

#include <cmath>

#include "QuibbleDebugView.h"
#include "platform/UIImage.h"

TuningPanelView::TuningPanelView() : UIView(CGRectMake(0, 0, 320, 480)) { setUserInteractionEnabled(false); }

std::vector<CGRect> TuningPanelView::strips() {
  const auto font = UIFont::systemFontOfSize(UIFont::systemFontSize());
  std::vector<CGRect> result;
  for (const auto& line : QuibbleDebugView::textLines()) {
    const CGSize s = sizeWithFont(line.text, *font);
    // The text starts at the screen's edge: the strip runs off it on the left.
    result.push_back(CGRectMake(0, line.y - kMargin / 2, s.width + 2 * kMargin, s.height + kMargin));
  }
  return result;
}

void TuningPanelView::drawRect(CGRect) {
  CGContextRef c = UIGraphicsGetCurrentContext();
  CGContextSetRGBFillColor(c, 1, 1, 1, 0.72);
  for (const CGRect& r : strips()) {
    const CGFloat radius = r.size.height / 2;
    const CGFloat right = r.origin.x + r.size.width;
    CGContextBeginPath(c);
    CGContextMoveToPoint(c, r.origin.x, r.origin.y);
    CGContextAddArc(c, right - radius, r.origin.y + radius, radius, -M_PI / 2, M_PI / 2, 0);
    CGContextAddLineToPoint(c, r.origin.x, r.origin.y + r.size.height);
    CGContextClosePath(c);
    CGContextFillPath(c);
  }
}
