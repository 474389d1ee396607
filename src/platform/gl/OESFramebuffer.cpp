// The OES framebuffer-object entry points. libGLESv1_CM does not export them, so they are defined
// here and forward to the driver's functions, looked up once through eglGetProcAddress.
#include <EGL/egl.h>

#include "platform/GLES.h"

namespace {

struct OesFunctions {
  PFNGLISRENDERBUFFEROESPROC isRenderbuffer;
  PFNGLBINDRENDERBUFFEROESPROC bindRenderbuffer;
  PFNGLDELETERENDERBUFFERSOESPROC deleteRenderbuffers;
  PFNGLGENRENDERBUFFERSOESPROC genRenderbuffers;
  PFNGLRENDERBUFFERSTORAGEOESPROC renderbufferStorage;
  PFNGLGETRENDERBUFFERPARAMETERIVOESPROC getRenderbufferParameteriv;
  PFNGLISFRAMEBUFFEROESPROC isFramebuffer;
  PFNGLBINDFRAMEBUFFEROESPROC bindFramebuffer;
  PFNGLDELETEFRAMEBUFFERSOESPROC deleteFramebuffers;
  PFNGLGENFRAMEBUFFERSOESPROC genFramebuffers;
  PFNGLCHECKFRAMEBUFFERSTATUSOESPROC checkFramebufferStatus;
  PFNGLFRAMEBUFFERRENDERBUFFEROESPROC framebufferRenderbuffer;
  PFNGLFRAMEBUFFERTEXTURE2DOESPROC framebufferTexture2D;
  PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVOESPROC getFramebufferAttachmentParameteriv;
  PFNGLGENERATEMIPMAPOESPROC generateMipmap;
};

template <typename F>
F load(const char* name) {
  return reinterpret_cast<F>(eglGetProcAddress(name));
}

const OesFunctions& oes() {
  static const OesFunctions functions{
      load<PFNGLISRENDERBUFFEROESPROC>("glIsRenderbufferOES"),
      load<PFNGLBINDRENDERBUFFEROESPROC>("glBindRenderbufferOES"),
      load<PFNGLDELETERENDERBUFFERSOESPROC>("glDeleteRenderbuffersOES"),
      load<PFNGLGENRENDERBUFFERSOESPROC>("glGenRenderbuffersOES"),
      load<PFNGLRENDERBUFFERSTORAGEOESPROC>("glRenderbufferStorageOES"),
      load<PFNGLGETRENDERBUFFERPARAMETERIVOESPROC>("glGetRenderbufferParameterivOES"),
      load<PFNGLISFRAMEBUFFEROESPROC>("glIsFramebufferOES"),
      load<PFNGLBINDFRAMEBUFFEROESPROC>("glBindFramebufferOES"),
      load<PFNGLDELETEFRAMEBUFFERSOESPROC>("glDeleteFramebuffersOES"),
      load<PFNGLGENFRAMEBUFFERSOESPROC>("glGenFramebuffersOES"),
      load<PFNGLCHECKFRAMEBUFFERSTATUSOESPROC>("glCheckFramebufferStatusOES"),
      load<PFNGLFRAMEBUFFERRENDERBUFFEROESPROC>("glFramebufferRenderbufferOES"),
      load<PFNGLFRAMEBUFFERTEXTURE2DOESPROC>("glFramebufferTexture2DOES"),
      load<PFNGLGETFRAMEBUFFERATTACHMENTPARAMETERIVOESPROC>("glGetFramebufferAttachmentParameterivOES"),
      load<PFNGLGENERATEMIPMAPOESPROC>("glGenerateMipmapOES"),
  };
  return functions;
}

}  // namespace

// Without a driver the calls do nothing (names stay 0, status 0), like calls with no context.
extern "C" {

GL_API GLboolean GL_APIENTRY glIsRenderbufferOES(GLuint renderbuffer) {
  return oes().isRenderbuffer ? oes().isRenderbuffer(renderbuffer) : GL_FALSE;
}
GL_API void GL_APIENTRY glBindRenderbufferOES(GLenum target, GLuint renderbuffer) {
  if (oes().bindRenderbuffer) oes().bindRenderbuffer(target, renderbuffer);
}
GL_API void GL_APIENTRY glDeleteRenderbuffersOES(GLsizei n, const GLuint* renderbuffers) {
  if (oes().deleteRenderbuffers) oes().deleteRenderbuffers(n, renderbuffers);
}
GL_API void GL_APIENTRY glGenRenderbuffersOES(GLsizei n, GLuint* renderbuffers) {
  if (oes().genRenderbuffers) oes().genRenderbuffers(n, renderbuffers);
}
GL_API void GL_APIENTRY glRenderbufferStorageOES(GLenum target, GLenum internalformat,
                                                GLsizei width, GLsizei height) {
  if (oes().renderbufferStorage) oes().renderbufferStorage(target, internalformat, width, height);
}
GL_API void GL_APIENTRY glGetRenderbufferParameterivOES(GLenum target, GLenum pname,
                                                       GLint* params) {
  if (oes().getRenderbufferParameteriv) oes().getRenderbufferParameteriv(target, pname, params);
}
GL_API GLboolean GL_APIENTRY glIsFramebufferOES(GLuint framebuffer) {
  return oes().isFramebuffer ? oes().isFramebuffer(framebuffer) : GL_FALSE;
}
GL_API void GL_APIENTRY glBindFramebufferOES(GLenum target, GLuint framebuffer) {
  if (oes().bindFramebuffer) oes().bindFramebuffer(target, framebuffer);
}
GL_API void GL_APIENTRY glDeleteFramebuffersOES(GLsizei n, const GLuint* framebuffers) {
  if (oes().deleteFramebuffers) oes().deleteFramebuffers(n, framebuffers);
}
GL_API void GL_APIENTRY glGenFramebuffersOES(GLsizei n, GLuint* framebuffers) {
  if (oes().genFramebuffers) oes().genFramebuffers(n, framebuffers);
}
GL_API GLenum GL_APIENTRY glCheckFramebufferStatusOES(GLenum target) {
  return oes().checkFramebufferStatus ? oes().checkFramebufferStatus(target) : 0;
}
GL_API void GL_APIENTRY glFramebufferRenderbufferOES(GLenum target, GLenum attachment,
                                                    GLenum renderbuffertarget,
                                                    GLuint renderbuffer) {
  if (oes().framebufferRenderbuffer) {
    oes().framebufferRenderbuffer(target, attachment, renderbuffertarget, renderbuffer);
  }
}
GL_API void GL_APIENTRY glFramebufferTexture2DOES(GLenum target, GLenum attachment,
                                                 GLenum textarget, GLuint texture, GLint level) {
  if (oes().framebufferTexture2D) {
    oes().framebufferTexture2D(target, attachment, textarget, texture, level);
  }
}
GL_API void GL_APIENTRY glGetFramebufferAttachmentParameterivOES(GLenum target, GLenum attachment,
                                                                GLenum pname, GLint* params) {
  if (oes().getFramebufferAttachmentParameteriv) {
    oes().getFramebufferAttachmentParameteriv(target, attachment, pname, params);
  }
}
GL_API void GL_APIENTRY glGenerateMipmapOES(GLenum target) {
  if (oes().generateMipmap) oes().generateMipmap(target);
}

}  // extern "C"
