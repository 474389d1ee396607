#pragma once
// The flat character: one guinea pig drawn from six still images with 2D drawing, no GL. It takes
// the same mouth level as EAGLView, so an owner can feed it once per tick exactly as drawView
// feeds EAGLView (setValueIdle while listening or recording, setValue with the level ratio while
// playing back):
//
//   auto flat = Quibbler::init();                 // frame (0, 0, 0, 0), like any init'ed view
//   flat->setFrame(CGRectMake(0, 0, 320, 480));
//   window->addSubview(flat);
//
// Images draw at their own size from the view's top-left corner. Main thread only.
#include <memory>

#include "platform/UIImage.h"
#include "platform/UIView.h"

class Quibbler : public UIView {
 public:
  // Loads "RadireZer03_0.png" … "RadireZer03_5.png"; a missing image leaves its frame empty.
  static std::shared_ptr<Quibbler> init();

  // Maps a level (nominally 0..1) onto the speaking frames and asks for a redraw.
  void setValue(float level);
  // The mapped level itself (not a frame number).
  float getValue() const { return value; }
  // Advances the resting cycle by one tick and asks for a redraw; the argument means nothing.
  void setValueIdle(float unused);
  // The frame drawRect shows for the current value, 0..5.
  int frameIndex() const;

  void drawRect(CGRect rect) override;

  Quibbler();  // use init

 private:
  std::shared_ptr<UIImage> character0;
  std::shared_ptr<UIImage> character1;
  std::shared_ptr<UIImage> character2;
  std::shared_ptr<UIImage> character3;
  std::shared_ptr<UIImage> character4;
  std::shared_ptr<UIImage> character5;
  float value = 0;
  float counter = 0;
};
