#pragma once
// Whether anybody will act on a full-screen request for an SDL window.
#include <SDL.h>

namespace platform {

// False on an X server without a window manager (none announces itself on the root window);
// true on Wayland and wherever it cannot tell.
bool windowManagerRunning(SDL_Window* window);

}  // namespace platform
