#include "EAGLView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "VoiceEngineState.h"
#include "platform/Log.h"
#include "platform/UIImage.h"

namespace {

std::string frameImageName(int character, int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "QB_%02d_%02d.png", character, frame);
  return name;
}

}  // namespace

std::unique_ptr<CALayer> EAGLView::layerClass() { return std::make_unique<CAEAGLLayer>(); }

EAGLView::EAGLView(Key, const NSCoder& coder) : UIView(coder, layerClass()) {}

std::shared_ptr<EAGLView> EAGLView::initWithCoder(const NSCoder& coder) {
  auto view = std::make_shared<EAGLView>(Key{}, coder);
  CAEAGLLayer& eaglLayer = view->eaglLayer();
  eaglLayer.setOpaque(true);
  eaglLayer.setDrawableProperties({{kEAGLDrawablePropertyRetainedBacking, "0"},
                                   {kEAGLDrawablePropertyColorFormat, kEAGLColorFormatRGBA8}});
  view->context_ = EAGLContext::initWithAPI(kEAGLRenderingAPIOpenGLES1);
  if (!view->context_ || !EAGLContext::setCurrentContext(view->context_.get()) ||
      !view->createFramebuffer()) {
    return nullptr;  // the half-built view goes with its last reference
  }
  view->animationInterval_ = 1.0 / 24.0;
  view->setupView();
  view->drawView();
  return view;
}

EAGLView::~EAGLView() {
  stopAnimation();
  if (context_ && EAGLContext::currentContext() == context_.get()) {
    EAGLContext::setCurrentContext(nullptr);
  }
  context_.reset();  // textures and framebuffer objects go with the context
}

void EAGLView::setupView() {
  touches_direction_ = 0;
  for (int j = 0; j < 4; ++j) {
    spring_x_[j] = 1.25f;
    inertia_x_[j] = 0.3f;
    momentum_x_[j] = 0.0f;
    gain_quibbler_[j] = 1.0f;
    pitch_quibbler_[j] = kCharacterVoices[j].pitch;
    speed_quibbler_[j] = kCharacterVoices[j].tempo;
    const auto left = static_cast<GLfloat>(2.0 * j - 1.0);
    const auto right = static_cast<GLfloat>(2.0 * j + 1.0);
    const GLfloat vertices[8] = {left, -1.5f, right, -1.5f, left, 1.5f, right, 1.5f};
    const GLshort texcoords[8] = {0, 1, 1, 1, 0, 0, 1, 0};
    for (int i = 0; i < 8; ++i) {
      spriteVertices_[j][i] = vertices[i];
      spriteTexcoords_[j][i] = texcoords[i];
    }
  }
  glViewport(0, 0, backingWidth_, backingHeight_);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrthof(-1.0f, 1.0f, -1.5f, 1.5f, -1.0f, 1.0f);
  target_x_ = target_y_ = target_z_ = 0;
  current_x_ = current_y_ = current_z_ = 0;
  current_quibbler_ = 0;
  glMatrixMode(GL_MODELVIEW);
  glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
  pictureValid_ = previousValid_ = false;

  // Decoding dominates start-up; do it on all cores first, then upload in order.
  std::vector<std::string> names;
  for (int j = 0; j < 4; ++j) {
    for (int k = 0; k < 6; ++k) names.push_back(frameImageName(j, k));
  }
  const auto decoded = UIImage::preloadImagesNamed(names);
  for (int j = 0; j < 4; ++j) {
    for (int k = 0; k < 6; ++k) loadTexture(j, k);
  }
}

void EAGLView::loadTexture(int j, int k) {
  const auto image = UIImage::imageNamed(frameImageName(j, k));
  CGImageRef spriteImage = image ? image->CGImage() : nullptr;
  if (!spriteImage) return;  // missing (or undecodable, logged by imageNamed): texture 0
  const std::size_t width = CGImageGetWidth(spriteImage);
  const std::size_t height = CGImageGetHeight(spriteImage);
  // Zeroed, because the image is composited over what the buffer holds.
  auto* spriteData = static_cast<GLubyte*>(std::calloc(width * height * 4, 1));
  if (spriteData) {
    CGContextRef spriteContext =
        CGBitmapContextCreate(spriteData, width, height, 8, width * 4,
                              CGImageGetColorSpace(spriteImage), kCGImageAlphaPremultipliedLast);
    CGContextDrawImage(spriteContext,
                       CGRectMake(0, 0, static_cast<CGFloat>(width), static_cast<CGFloat>(height)),
                       spriteImage);
    CGContextRelease(spriteContext);
  } else {
    NSLog("ran out of memory at QB_%02d_%02d", j, k);
  }
  glGenTextures(1, &spriteTexture_[j][k]);
  glBindTexture(GL_TEXTURE_2D, spriteTexture_[j][k]);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, static_cast<GLsizei>(width),
               static_cast<GLsizei>(height), 0, GL_RGBA, GL_UNSIGNED_BYTE, spriteData);
  std::free(spriteData);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glEnable(GL_TEXTURE_2D);
  glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_BLEND);
}

bool EAGLView::createFramebuffer() {
  pictureValid_ = previousValid_ = false;
  glGenFramebuffersOES(1, &viewFramebuffer_);
  glGenRenderbuffersOES(1, &viewRenderbuffer_);
  glBindFramebufferOES(GL_FRAMEBUFFER_OES, viewFramebuffer_);
  glBindRenderbufferOES(GL_RENDERBUFFER_OES, viewRenderbuffer_);
  context_->renderbufferStorageFromDrawable(GL_RENDERBUFFER_OES, &eaglLayer());
  glFramebufferRenderbufferOES(GL_FRAMEBUFFER_OES, GL_COLOR_ATTACHMENT0_OES, GL_RENDERBUFFER_OES,
                               viewRenderbuffer_);
  glGetRenderbufferParameterivOES(GL_RENDERBUFFER_OES, GL_RENDERBUFFER_WIDTH_OES, &backingWidth_);
  glGetRenderbufferParameterivOES(GL_RENDERBUFFER_OES, GL_RENDERBUFFER_HEIGHT_OES, &backingHeight_);
  if (glCheckFramebufferStatusOES(GL_FRAMEBUFFER_OES) == GL_FRAMEBUFFER_COMPLETE_OES) return true;
  NSLog("failed to make complete framebuffer object %x", glCheckFramebufferStatusOES(GL_FRAMEBUFFER_OES));
  return false;
}

void EAGLView::destroyFramebuffer() {
  pictureValid_ = previousValid_ = false;
  glDeleteFramebuffersOES(1, &viewFramebuffer_);
  viewFramebuffer_ = 0;
  glDeleteRenderbuffersOES(1, &viewRenderbuffer_);
  viewRenderbuffer_ = 0;
  if (depthRenderbuffer_) {
    glDeleteRenderbuffersOES(1, &depthRenderbuffer_);
    depthRenderbuffer_ = 0;
  }
}

void EAGLView::layoutSubviews() {
  EAGLContext::setCurrentContext(context_.get());
  destroyFramebuffer();
  createFramebuffer();
  drawView();
}

void EAGLView::startAnimation() {
  // The timer must not outlive the view it draws: it holds the view weakly and retires itself
  // once the view is gone (only a second, unstopped timer could see that).
  std::weak_ptr<EAGLView> weakSelf = std::static_pointer_cast<EAGLView>(shared_from_this());
  auto self = std::make_shared<std::weak_ptr<NSTimer>>();
  animationTimer_ = NSTimer::scheduledTimerWithTimeInterval(
      animationInterval_,
      [weakSelf, self] {
        if (auto view = weakSelf.lock()) {
          view->drawView();
        } else if (auto timer = self->lock()) {
          timer->invalidate();
        }
      },
      true);
  *self = animationTimer_;
}

void EAGLView::stopAnimation() {
  if (animationTimer_) animationTimer_->invalidate();
  animationTimer_.reset();
}

void EAGLView::setAnimationInterval(double interval) {
  animationInterval_ = interval;
  if (animationTimer_) {
    stopAnimation();
    startAnimation();
  }
}

void EAGLView::advance() {
  const std::uint16_t mode = programMode;
  if (mode == kModeListening || mode == kModeRecording) setValueIdle(0);
  if (mode == kModePlaying || mode == kModeGreeting) {
    setValue(static_cast<float>(averageLevel.load()) / static_cast<float>(maxRecordingLevels.load()));
  }
  const std::int32_t cur = current_quibbler_;
  momentum_x_[0] = momentum_x_[0] * inertia_x_[cur] + (target_x_ - current_x_) * spring_x_[cur];
  current_x_ = current_x_ + momentum_x_[0];
}

void EAGLView::drawView() {
  advance();

  const std::int32_t cur = current_quibbler_;

  // Everything the picture is made of. Most ticks change none of it (the mouth moves a few times
  // a second, the camera stands still): the last frame is presented again without drawing or
  // reading it back. While listening the mouth flips between two frames, so the frame before
  // the last is kept for reuse too.
  Picture picture;
  picture.cameraX = current_x_;
  picture.mouthFrame = getValue();
  for (std::int32_t j = 0; j < 4; ++j) {
    picture.drawn[j] = j == cur || (touches_direction_ == 1 && j == cur + 1 && cur != 3) ||
                       (touches_direction_ == 2 && j == cur - 1 && cur != 0);
  }
  if (pictureValid_ && EAGLContext::currentContext() == context_.get()) {
    if (picture == lastPicture_) {
      eaglLayer().didPresentUnchanged();
      return;
    }
    if (previousValid_ && picture == previousPicture_) {
      eaglLayer().didPresentPrevious();
      std::swap(previousPicture_, lastPicture_);
      return;
    }
  }

  glClear(GL_COLOR_BUFFER_BIT);
  EAGLContext::setCurrentContext(context_.get());
  glBindFramebufferOES(GL_FRAMEBUFFER_OES, viewFramebuffer_);

  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrthof(current_x_ - 1.0f, current_x_ + 1.0f, -1.5f, 1.5f, -1.0f, 1.0f);
  glMatrixMode(GL_MODELVIEW);

  for (std::int32_t j = 0; j < 4; ++j) {
    if (!picture.drawn[j]) continue;
    glTexCoordPointer(2, GL_SHORT, 0, spriteTexcoords_[j]);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glBindTexture(GL_TEXTURE_2D, spriteTexture_[j][picture.mouthFrame]);
    glVertexPointer(2, GL_FLOAT, 0, spriteVertices_[j]);
    glEnableClientState(GL_VERTEX_ARRAY);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  }

  glBindRenderbufferOES(GL_RENDERBUFFER_OES, viewRenderbuffer_);
  const bool shown = context_->presentRenderbuffer(GL_RENDERBUFFER_OES);
  previousValid_ = shown && pictureValid_;
  previousPicture_ = lastPicture_;
  pictureValid_ = shown;
  lastPicture_ = picture;
}

void EAGLView::setValue(float level) {
  if (level < 0) level = 0;
  if (level > 1) level = 1;  // not-a-number passes both tests unchanged
  quibbler_value_ = static_cast<float>(static_cast<double>(level) * 0.66665 + 0.33334);
  quibbler_counter_ = 0;
}

int EAGLView::getValue() const {
  const double v = quibbler_value_;
  if (v < 0.16666) return 0;
  if (v < 0.33333) return 1;
  if (quibbler_value_ < 0.5f) return 2;
  if (v < 0.66666) return 3;
  if (v < 0.83333) return 4;
  return 5;
}

void EAGLView::setValueIdle(float) {
  quibbler_counter_ = static_cast<float>(static_cast<double>(quibbler_counter_) + 0.05125);
  const auto t = static_cast<float>(static_cast<double>(quibbler_counter_) * 2.718281828459045);
  quibbler_value_ =
      static_cast<float>((static_cast<double>(t) - static_cast<double>(floorf(t))) * 0.3333);
}

namespace {
const UITouch* touchOf(const UIView* view, const UITouchSet& touches, const UIEvent* event) {
  if (event) {
    if (const UITouch* touch = event->touchesForView(view).anyObject()) return touch;
  }
  return touches.anyObject();
}
}  // namespace

void EAGLView::showCharacter(int character) {
  current_quibbler_ = std::clamp(character, 0, 3);
  touches_direction_ = 0;
  const std::int32_t sel = current_quibbler_;
  setVoice({pitch_quibbler_[sel], speed_quibbler_[sel], gain_quibbler_[sel]});
  target_x_ = current_x_ = static_cast<float>(2 * sel);
  target_y_ = target_z_ = 0;
  momentum_x_[0] = 0;
}

void EAGLView::touchesBegan(const UITouchSet& touches, const UIEvent* event) {
  const UITouch* touch = touchOf(this, touches, event);
  if (!touch) return;
  location_touchesBegan_ = touch->locationInView(this);
  // A touch that never moves must not be measured against an earlier touch's last move.
  location_touchesMoved_ = location_touchesBegan_;
}

void EAGLView::touchesMoved(const UITouchSet& touches, const UIEvent* event) {
  const UITouch* touch = touchOf(this, touches, event);
  if (!touch) return;
  location_touchesMoved_ = touch->locationInView(this);
  const float d = location_touchesBegan_.x - location_touchesMoved_.x;
  touches_direction_ = d < 0 ? 2 : (d > 0 ? 1 : 0);
  target_x_ = (d + d) / 319.0f;
  target_x_ = static_cast<float>(static_cast<double>(target_x_) + 2.0 * current_quibbler_);
}

void EAGLView::touchesEnded(const UITouchSet&, const UIEvent*) {
  float d = location_touchesBegan_.x - location_touchesMoved_.x;
  if (d > 159.5) current_quibbler_ += 1;
  d = location_touchesBegan_.x - location_touchesMoved_.x;
  if (d < -159.5) current_quibbler_ -= 1;
  if (current_quibbler_ < 0) current_quibbler_ = 0;
  if (current_quibbler_ > 3) current_quibbler_ = 3;
  touches_direction_ = 0;
  const std::int32_t sel = current_quibbler_;
  setVoice({pitch_quibbler_[sel], speed_quibbler_[sel], gain_quibbler_[sel]});
  target_x_ = static_cast<float>(2 * sel);
  target_z_ = 0;
  target_y_ = 0;
}

void EAGLView::touchesCancelled(const UITouchSet&, const UIEvent*) {
  // Nothing switches and the camera springs back. Unlike an ended touch, the voice is left as
  // it is: the tuning overlay may just have set it.
  location_touchesMoved_ = location_touchesBegan_;
  touches_direction_ = 0;
  target_x_ = static_cast<float>(2 * current_quibbler_);
  target_z_ = 0;
  target_y_ = 0;
}

void EAGLView::viewCoordsToGLCoords(float x_in, float y_in, float* x_out, float* y_out, float*) {
  *x_out = (x_in + x_in) / 319.0f;
  *y_out = y_in * 3.0f / 419.0f;
}

CGPoint EAGLView::location_touchesMoved() const {
  std::lock_guard lock(pointAccessors_);
  return location_touchesMoved_;
}

void EAGLView::setLocation_touchesMoved(CGPoint point) {
  std::lock_guard lock(pointAccessors_);
  location_touchesMoved_ = point;
}

CGPoint EAGLView::location_touchesBegan() const {
  std::lock_guard lock(pointAccessors_);
  return location_touchesBegan_;
}

void EAGLView::setLocation_touchesBegan(CGPoint point) {
  std::lock_guard lock(pointAccessors_);
  location_touchesBegan_ = point;
}
