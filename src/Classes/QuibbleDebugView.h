#pragma once
// The tuning overlay: eleven engine values as black text down the left edge, and eight bands
// where a tap sets a value from the tap's x (left edge minimum, x = 320 maximum). Meant to cover
// the 320 × 480 point screen above the character; the owner calls postValue whenever the numbers
// should be redrawn (once per tick keeps them live). A tap changes the engine at once but the
// text only at the next redraw. Main thread only.
#include <memory>
#include <string>
#include <vector>

#include "platform/UIView.h"

class QuibbleDebugView : public UIView {
 public:
  static std::shared_ptr<QuibbleDebugView> initWithFrame(CGRect frame);

  void drawRect(CGRect rect) override;
  // Applies one tap; moves and ends are not handled.
  void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
  // Copies averageLevelRunning and asks for a redraw.
  void postValue();
  void setValue(float unused);
  float value() const { return value_; }

  struct Line {
    CGFloat y;
    std::string text;
  };
  // The lines drawRect draws, formatted from the engine's current values.
  static std::vector<Line> textLines();
  // Sets the engine variable of the band holding y, from x, as a tap there does.
  static void applyTap(double x, float y);

  explicit QuibbleDebugView(CGRect frame);  // use initWithFrame

 private:
  float value_ = 0;
};
