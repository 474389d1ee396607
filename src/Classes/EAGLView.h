#pragma once
// The full-screen character view: four guinea pigs side by side, six mouth frames each, drawn
// with OpenGL ES 1.1 into the view's own framebuffer once per animation tick. The mouth follows
// the voice engine's playback level; a horizontal drag pulls a spring-driven camera towards a
// neighbour and a long enough drag selects it together with its voice.
//
//   auto view = EAGLView::initWithCoder(NSCoder{});  // null when GL is unavailable
//   view->setAnimationInterval(1.0 / 24);
//   view->startAnimation();                          // drawView on RunLoop::main()
//   view->eaglLayer().presentedPixels();             // the last frame, 640 × 960 RGBA
//
// Main thread only.
#include <cstdint>
#include <memory>
#include <mutex>

#include "CharacterAnimation.h"
#include "CharacterVoices.h"
#include "platform/EAGLContext.h"
#include "platform/GLES.h"
#include "platform/NSTimer.h"
#include "platform/UIView.h"

class EAGLView : public UIView, public CharacterAnimation {
 public:
  // The backing layer: an OpenGL ES drawable.
  static std::unique_ptr<CALayer> layerClass();
  // Builds the context and framebuffer, loads the 24 frame textures and draws once. Null when
  // the context cannot be made current or the framebuffer is incomplete.
  static std::shared_ptr<EAGLView> initWithCoder(const NSCoder& coder);
  ~EAGLView() override;

  void setupView();
  bool createFramebuffer();
  void destroyFramebuffer();
  void layoutSubviews() override;

  void startAnimation() override;
  void stopAnimation() override;
  void setAnimationInterval(double interval) override;
  double animationInterval() const { return animationInterval_; }

  // One animation tick: advance(), then draw and present.
  void drawView();
  // One tick's state without drawing: the mouth frame from the engine's level, the camera step.
  void advance();
  void setValue(float level);
  int getValue() const;
  void setValueIdle(float unused);

  // Selects a character (clamped to 0..3) and its voice with the camera already on it, as at
  // launch: nothing springs.
  void showCharacter(int character);

  void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
  void touchesMoved(const UITouchSet& touches, const UIEvent* event) override;
  void touchesEnded(const UITouchSet& touches, const UIEvent* event) override;
  void touchesCancelled(const UITouchSet& touches, const UIEvent* event) override;
  // A view position at scene scale (no offset); z_out is left as it is.
  void viewCoordsToGLCoords(float x_in, float y_in, float* x_out, float* y_out, float* z_out);

  CGPoint location_touchesMoved() const;
  void setLocation_touchesMoved(CGPoint point);
  CGPoint location_touchesBegan() const;
  void setLocation_touchesBegan(CGPoint point);
  float current_x() const { return current_x_; }
  void setCurrent_x(float v) { current_x_ = v; }
  float current_y() const { return current_y_; }
  void setCurrent_y(float v) { current_y_ = v; }
  float current_z() const { return current_z_; }
  void setCurrent_z(float v) { current_z_ = v; }
  float target_x() const { return target_x_; }
  void setTarget_x(float v) { target_x_ = v; }
  float target_y() const { return target_y_; }
  void setTarget_y(float v) { target_y_ = v; }
  float target_z() const { return target_z_; }
  void setTarget_z(float v) { target_z_ = v; }

  // State a window, an owner or a test may look at.
  CAEAGLLayer& eaglLayer() const { return static_cast<CAEAGLLayer&>(layer()); }
  EAGLContext* context() const { return context_.get(); }
  GLint backingWidth() const { return backingWidth_; }
  GLint backingHeight() const { return backingHeight_; }
  GLuint viewFramebuffer() const { return viewFramebuffer_; }
  GLuint viewRenderbuffer() const { return viewRenderbuffer_; }
  GLuint spriteTexture(int character, int frame) const { return spriteTexture_[character][frame]; }
  const std::shared_ptr<NSTimer>& animationTimer() const { return animationTimer_; }
  std::int32_t current_quibbler() const { return current_quibbler_; }
  std::int32_t touches_direction() const { return touches_direction_; }
  float quibbler_value() const { return quibbler_value_; }
  float quibbler_counter() const { return quibbler_counter_; }
  float momentum() const { return momentum_x_[0]; }

  // Only initWithCoder can make the key, so every view is owned by a shared_ptr.
  class Key {
    friend class EAGLView;
    Key() = default;
  };
  EAGLView(Key, const NSCoder& coder);

 private:
  void loadTexture(int character, int frame);

  // The inputs of a drawn frame; the same inputs give the same pixels.
  struct Picture {
    float cameraX = 0;
    int mouthFrame = 0;
    bool drawn[4] = {};
    bool operator==(const Picture& o) const {
      // A camera at NaN never matches, so it is always drawn.
      return cameraX == o.cameraX && mouthFrame == o.mouthFrame && drawn[0] == o.drawn[0] &&
             drawn[1] == o.drawn[1] && drawn[2] == o.drawn[2] && drawn[3] == o.drawn[3];
    }
  };

  GLint backingWidth_ = 0;
  GLint backingHeight_ = 0;
  std::shared_ptr<EAGLContext> context_;
  GLuint viewRenderbuffer_ = 0;
  GLuint viewFramebuffer_ = 0;
  GLuint depthRenderbuffer_ = 0;
  GLuint spriteTexture_[4][6] = {};
  GLfloat spriteVertices_[4][8] = {};
  GLshort spriteTexcoords_[4][8] = {};
  std::shared_ptr<NSTimer> animationTimer_;
  double animationInterval_ = 0;
  CGPoint location_touchesMoved_{0, 0};
  CGPoint location_touchesBegan_{0, 0};
  std::int32_t touches_direction_ = 0;
  std::int32_t current_quibbler_ = 0;
  float quibbler_value_ = 0;
  float quibbler_counter_ = 0;
  float target_x_ = 0;
  float target_y_ = 0;
  float target_z_ = 0;
  float current_x_ = 0;
  float current_y_ = 0;
  float current_z_ = 0;
  float spring_x_[4] = {};
  float inertia_x_[4] = {};
  float momentum_x_[4] = {};
  float gain_quibbler_[4] = {};
  float pitch_quibbler_[4] = {};
  float speed_quibbler_[4] = {};
  Picture lastPicture_;
  Picture previousPicture_;
  bool pictureValid_ = false;   // lastPicture_ is what the layer shows
  bool previousValid_ = false;  // previousPicture_ is what the layer's storage holds
  mutable std::mutex pointAccessors_;  // the two points are read and written whole
};
