#pragma once
// The desktop window: a pixel sink for the composited frame and a source of touches, keys and
// focus changes. Events are delivered from pumpEvents(), which the app calls on the main run loop.
//
// The frame keeps its aspect: it is scaled to the largest rectangle of its shape that fits the
// window (or the screen, in full screen), centred, with black bars beside it; touches are
// reported in frame points wherever the bars put it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Status.h"

namespace platform {

enum class TouchPhase { Began, Moved, Ended, Cancelled };
enum class WindowKey {
  Left, Right, Character1, Character2, Character3, Character4, Tuning, Quit,
  FullScreen,  // F11
  Mute,        // M
  Record,      // R
  Help,        // ? or F1
  Escape,      // quits, unless something is open to close first
};

struct WindowEvents {
  std::function<void(TouchPhase, float xPoints, float yPoints)> touch;
  std::function<void(WindowKey)> key;
  std::function<void(bool active)> activeChanged;  // focus/minimise, each change reported once
  std::function<void()> closeRequested;
  // The window lost its picture (resized, full screen changed): present the frame again.
  std::function<void()> redrawNeeded;
};

class Window {
 public:
  virtual ~Window() = default;
  // rgba: width × height × 4 bytes, top row first, premultiplied (opaque in practice). Call it
  // when the frame changed or redrawNeeded asked; the window keeps showing the last one.
  virtual void present(const std::uint8_t* rgba, int width, int height) = 0;
  virtual void pumpEvents() = 0;
  // A descriptor that becomes readable when events arrive (the display connection), so the app
  // can wait for them instead of polling; -1 when there is none to wait on. Events the window
  // system already read off it are only seen by the next pumpEvents(), so pump after drawing too.
  virtual int eventFd() const = 0;
  virtual void setFullScreen(bool fullScreen) = 0;
  virtual bool isFullScreen() const = 0;
  // The window's size in screen pixels as it is when not in full screen.
  virtual void windowedSize(int& width, int& height) const = 0;
};

// True when a display server is named in the environment (X11 or Wayland).
bool displayAvailable();

// The largest size of the frame's aspect that fits `availableWidth` × `availableHeight`, never
// larger than the frame itself (pixelWidth × pixelHeight). Used for the window's first size.
void fitFrame(int pixelWidth, int pixelHeight, int availableWidth, int availableHeight,
              int& width, int& height);

// Opens a window showing frames of pixelWidth × pixelHeight at the largest size of their aspect
// that fits the usable area of its screen (at most the frame's own size), or at `width` ×
// `height` when both are given (> 0; kept within the usable area), or in full screen, with
// input reported in points (pointWidth × pointHeight across the frame). A failure says why no
// window can be opened.
Result<std::unique_ptr<Window>> openWindow(const std::string& title, int pixelWidth, int pixelHeight,
                                           int pointWidth, int pointHeight, bool fullScreen,
                                           WindowEvents events, int width = 0, int height = 0);

}  // namespace platform
