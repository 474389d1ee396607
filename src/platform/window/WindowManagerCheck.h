#pragma once
// What SDL does not tell about the X server behind a window.
#include <SDL.h>

namespace platform {

// False on an X server without a window manager (none announces itself on the root window);
// true on Wayland and wherever it cannot tell.
bool windowManagerRunning(SDL_Window* window);

// The X display connection's descriptor; -1 elsewhere.
int displayConnectionFd(SDL_Window* window);

}  // namespace platform
