#include "platform/EAGLContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstring>
#include <map>
#include <string>

#include "platform/CALayer.h"
#include "platform/GLES.h"

namespace {

struct Display {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLConfig config = nullptr;
  std::string error;
};

bool hasExtension(const char* list, const char* name) {
  if (!list) return false;
  const std::size_t n = std::strlen(name);
  for (const char* p = list; (p = std::strstr(p, name)); p += n) {
    if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
  }
  return false;
}

// Opened on first use and kept for the life of the process.
Display openDisplay() {
  Display d;
  const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (!hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
    d.error = "EGL has no surfaceless platform (EGL_MESA_platform_surfaceless)";
    return d;
  }
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!getPlatformDisplay) {
    d.error = "eglGetPlatformDisplayEXT is missing";
    return d;
  }
  EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  EGLint major = 0;
  EGLint minor = 0;
  if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
    d.error = "cannot initialise the surfaceless EGL display";
    return d;
  }
  const EGLint attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                               EGL_RENDERABLE_TYPE, EGL_OPENGL_ES_BIT,
                               EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8,
                               EGL_ALPHA_SIZE, 8, EGL_NONE};
  EGLint count = 0;
  if (!eglBindAPI(EGL_OPENGL_ES_API) ||
      !eglChooseConfig(display, attributes, &d.config, 1, &count) || count < 1) {
    d.error = "no OpenGL ES 1 configuration on the EGL display";
    return d;
  }
  d.display = display;
  return d;
}

const Display& display() {
  static const Display d = openDisplay();
  return d;
}

thread_local EAGLContext* current = nullptr;
std::string lastFailure;

}  // namespace

struct EAGLContext::Impl {
  EGLContext context = EGL_NO_CONTEXT;
  std::map<GLuint, CAEAGLLayer*> layers;  // renderbuffer → the layer it presents into
};

EAGLContext::EAGLContext(EAGLRenderingAPI api, std::unique_ptr<Impl> impl)
    : api_(api), impl_(std::move(impl)) {}

std::shared_ptr<EAGLContext> EAGLContext::initWithAPI(EAGLRenderingAPI api) {
  if (api != kEAGLRenderingAPIOpenGLES1) {
    lastFailure = "only the OpenGL ES 1 API is available";
    return nullptr;
  }
  const Display& d = display();
  if (d.display == EGL_NO_DISPLAY) {
    lastFailure = d.error;
    return nullptr;
  }
  const EGLint attributes[] = {EGL_CONTEXT_CLIENT_VERSION, 1, EGL_NONE};
  eglBindAPI(EGL_OPENGL_ES_API);
  EGLContext context = eglCreateContext(d.display, d.config, EGL_NO_CONTEXT, attributes);
  if (context == EGL_NO_CONTEXT) {
    lastFailure = "eglCreateContext failed";
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->context = context;
  lastFailure.clear();
  return std::shared_ptr<EAGLContext>(new EAGLContext(api, std::move(impl)));
}

EAGLContext::~EAGLContext() {
  const Display& d = display();
  if (current == this) {
    eglMakeCurrent(d.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    current = nullptr;
  }
  eglDestroyContext(d.display, impl_->context);
}

const char* EAGLContext::lastError() { return lastFailure.c_str(); }

bool EAGLContext::setCurrentContext(EAGLContext* context) {
  const Display& d = display();
  if (d.display == EGL_NO_DISPLAY) return context == nullptr;
  EGLContext egl = context ? context->impl_->context : EGL_NO_CONTEXT;
  if (!eglMakeCurrent(d.display, EGL_NO_SURFACE, EGL_NO_SURFACE, egl)) return false;
  current = context;
  return true;
}

EAGLContext* EAGLContext::currentContext() { return current; }

bool EAGLContext::renderbufferStorageFromDrawable(unsigned target, CAEAGLLayer* drawable) {
  if (current != this || target != GL_RENDERBUFFER_OES || !drawable) return false;
  GLint bound = 0;
  glGetIntegerv(GL_RENDERBUFFER_BINDING_OES, &bound);
  const int width = drawable->drawablePixelWidth();
  const int height = drawable->drawablePixelHeight();
  if (bound == 0 || width <= 0 || height <= 0) return false;
  const auto& properties = drawable->drawableProperties();
  auto format = properties.find(kEAGLDrawablePropertyColorFormat);
  const bool rgb565 = format != properties.end() && format->second == kEAGLColorFormatRGB565;
  while (glGetError() != GL_NO_ERROR) {
  }
  glRenderbufferStorageOES(GL_RENDERBUFFER_OES, rgb565 ? GL_RGB565_OES : GL_RGBA8_OES, width,
                           height);
  if (glGetError() != GL_NO_ERROR) return false;
  drawable->prepareStorage(width, height);
  impl_->layers[static_cast<GLuint>(bound)] = drawable;
  return true;
}

bool EAGLContext::presentRenderbuffer(unsigned target) {
  if (current != this || target != GL_RENDERBUFFER_OES) return false;
  GLint bound = 0;
  glGetIntegerv(GL_RENDERBUFFER_BINDING_OES, &bound);
  auto it = impl_->layers.find(static_cast<GLuint>(bound));
  if (it == impl_->layers.end()) return false;
  CAEAGLLayer* layer = it->second;
  GLint width = 0;
  GLint height = 0;
  glGetRenderbufferParameterivOES(GL_RENDERBUFFER_OES, GL_RENDERBUFFER_WIDTH_OES, &width);
  glGetRenderbufferParameterivOES(GL_RENDERBUFFER_OES, GL_RENDERBUFFER_HEIGHT_OES, &height);
  // Storage from another renderbuffer of a different size would be overrun.
  if (width <= 0 || height <= 0 || layer->storageWidth() != width ||
      layer->storageHeight() != height) {
    return false;
  }
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, layer->storage());
  layer->didPresent();
  return true;
}
