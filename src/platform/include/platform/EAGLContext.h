#pragma once
// EAGLContext stand-in: an OpenGL ES 1.1 context over EGL on Mesa's surfaceless platform (no
// window, no X server). Drawing goes into framebuffer objects; a renderbuffer gets its storage
// from a CAEAGLLayer and presenting it reads the finished frame back into that layer.
//
//   auto context = EAGLContext::initWithAPI(kEAGLRenderingAPIOpenGLES1);  // null: no GL here
//   EAGLContext::setCurrentContext(context.get());
//   glBindRenderbufferOES(GL_RENDERBUFFER_OES, renderbuffer);
//   context->renderbufferStorageFromDrawable(GL_RENDERBUFFER_OES, &layer);  // RGBA8, layer size
//   ... draw into the framebuffer the renderbuffer is attached to ...
//   context->presentRenderbuffer(GL_RENDERBUFFER_OES);  // layer.presentedPixels() = the frame
//
// The EGL display is opened once per process and kept to the end (closing it unloads the driver,
// which costs time and upsets leak checkers). Contexts are current per thread.
#include <memory>

class CAEAGLLayer;

enum EAGLRenderingAPI { kEAGLRenderingAPIOpenGLES1 = 1, kEAGLRenderingAPIOpenGLES2 = 2 };

class EAGLContext {
 public:
  // Null when the API is not OpenGL ES 1 or no EGL display/context can be made.
  static std::shared_ptr<EAGLContext> initWithAPI(EAGLRenderingAPI api);
  ~EAGLContext();
  EAGLContext(const EAGLContext&) = delete;
  EAGLContext& operator=(const EAGLContext&) = delete;

  EAGLRenderingAPI API() const { return api_; }

  // Makes `context` current on this thread (null: none). False when EGL refuses.
  static bool setCurrentContext(EAGLContext* context);
  static EAGLContext* currentContext();

  // Gives the renderbuffer bound to `target` RGBA8 storage of the layer's pixel size and
  // remembers the layer for presenting. This context must be current. False when the target is
  // not GL_RENDERBUFFER_OES, nothing is bound, or the layer is null or has no pixel size.
  bool renderbufferStorageFromDrawable(unsigned target, CAEAGLLayer* drawable);
  // Reads the frame from the bound framebuffer into the layer of the bound renderbuffer. False
  // when the renderbuffer has no layer.
  bool presentRenderbuffer(unsigned target);

  // Why the last initWithAPI returned null (empty otherwise); for diagnostics.
  static const char* lastError();

 private:
  struct Impl;
  explicit EAGLContext(EAGLRenderingAPI api, std::unique_ptr<Impl> impl);
  EAGLRenderingAPI api_;
  std::unique_ptr<Impl> impl_;
};
