#pragma once
// OpenGL ES 1.1 with the OES framebuffer-object functions declared. The system library does not
// export those; the EGL back end defines them and forwards to the driver's entry points.
#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GLES/gl.h>
#include <GLES/glext.h>
