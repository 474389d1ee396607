#pragma once
// The desktop window: a pixel sink for the composited frame and a source of touches, keys and
// focus changes. Events are delivered from pumpEvents(), which the app calls on the main run loop.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

enum class TouchPhase { Began, Moved, Ended, Cancelled };
enum class WindowKey { Left, Right, Character1, Character2, Character3, Character4, Tuning, Quit };

struct WindowEvents {
  std::function<void(TouchPhase, float xPoints, float yPoints)> touch;
  std::function<void(WindowKey)> key;
  std::function<void(bool active)> activeChanged;  // focus/minimise, each change reported once
  std::function<void()> closeRequested;
};

class Window {
 public:
  virtual ~Window() = default;
  // rgba: width × height × 4 bytes, top row first, premultiplied (opaque in practice).
  virtual void present(const std::uint8_t* rgba, int width, int height) = 0;
  virtual void pumpEvents() = 0;
};

// True when a display server is named in the environment (X11 or Wayland).
bool displayAvailable();

// Opens a window showing frames of pixelWidth × pixelHeight, scaled to fit the screen, with
// input reported in points (pointWidth × pointHeight across the frame). Null with `error` set
// when no window can be opened.
std::unique_ptr<Window> openWindow(const std::string& title, int pixelWidth, int pixelHeight,
                                   int pointWidth, int pointHeight, WindowEvents events,
                                   std::string& error);

}  // namespace platform
