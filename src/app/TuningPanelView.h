#pragma once
// The backing of the tuning overlay's text: a translucent light strip behind each of its lines,
// a margin wider than the text, so the black numbers read over any character. It sits between
// the character and the overlay and takes no touches: the overlay's tap bands stay as they are.
#include <memory>
#include <vector>

#include "platform/UIView.h"

class TuningPanelView : public UIView {
 public:
  static constexpr CGFloat kMargin = 4;

  TuningPanelView();
  void drawRect(CGRect rect) override;
  // The strip behind each line, in the overlay's points.
  static std::vector<CGRect> strips();
};
