#include "Quibbler.h"

#include <cmath>

Quibbler::Quibbler() : UIView(CGRectMake(0, 0, 0, 0)) {}

std::shared_ptr<Quibbler> Quibbler::init() {
  auto view = std::make_shared<Quibbler>();
  view->character0 = UIImage::imageNamed("RadireZer03_0.png");
  view->character1 = UIImage::imageNamed("RadireZer03_1.png");
  view->character2 = UIImage::imageNamed("RadireZer03_2.png");
  view->character3 = UIImage::imageNamed("RadireZer03_3.png");
  view->character4 = UIImage::imageNamed("RadireZer03_4.png");
  view->character5 = UIImage::imageNamed("RadireZer03_5.png");
  view->value = 0;
  view->counter = 0;
  return view;
}

void Quibbler::setValue(float level) {
  if (level < 0) level = 0;
  if (level > 1) level = 1;  // not-a-number passes both tests unchanged
  value = static_cast<float>(static_cast<double>(level) * 0.66665 + 0.33334);
  counter = 0;
  setNeedsDisplay();
}

void Quibbler::setValueIdle(float) {
  counter = static_cast<float>(static_cast<double>(counter) + 0.05125);
  const auto t = static_cast<float>(static_cast<double>(counter) * 2.718281828459045);
  value = static_cast<float>((static_cast<double>(t) - static_cast<double>(floorf(t))) * 0.3333);
  setNeedsDisplay();
}

int Quibbler::frameIndex() const {
  const double v = value;
  if (v < 0.16666) return 0;
  if (v < 0.33333) return 1;
  if (value < 0.5f) return 2;
  if (v < 0.66666) return 3;
  if (v < 0.83333) return 4;
  return 5;
}

void Quibbler::drawRect(CGRect) {
  const std::shared_ptr<UIImage>* frames[6] = {&character0, &character1, &character2,
                                               &character3, &character4, &character5};
  if (const auto& image = *frames[frameIndex()]) image->drawAtPoint(CGPointMake(0, 0));
}
