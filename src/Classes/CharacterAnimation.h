#pragma once
// What the application delegate drives of the character view: its animation timer. The view
// itself lives in the view module; the delegate only needs this much of it.
class CharacterAnimation {
 public:
  virtual ~CharacterAnimation() = default;
  virtual void startAnimation() = 0;
  virtual void stopAnimation() = 0;
  virtual void setAnimationInterval(double interval) = 0;
};
