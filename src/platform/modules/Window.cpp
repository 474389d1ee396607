// The desktop window's entry points in the program; the window itself is the window module's.
#include <algorithm>
#include <cstdlib>
#include <numeric>

#include "platform/Modules.h"
#include "platform/Window.h"

namespace platform {

bool displayAvailable() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

void fitFrame(int pixelWidth, int pixelHeight, int availableWidth, int availableHeight,
              int& width, int& height) {
  width = pixelWidth;
  height = pixelHeight;
  if (pixelWidth <= 0 || pixelHeight <= 0 || availableWidth <= 0 || availableHeight <= 0) return;
  // Whole multiples of the smallest size of that aspect (2 × 3 for 640 × 960): exact aspect.
  const int g = std::gcd(pixelWidth, pixelHeight);
  const int unitW = pixelWidth / g;
  const int unitH = pixelHeight / g;
  const int k = std::max(1, std::min({g, availableWidth / unitW, availableHeight / unitH}));
  width = k * unitW;
  height = k * unitH;
}

Result<std::unique_ptr<Window>> openWindow(const std::string& title, int pixelWidth, int pixelHeight,
                                   int pointWidth, int pointHeight, bool fullScreen,
                                           WindowEvents events, int width, int height) {
  if (!displayAvailable()) return fail("no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
  using Open = Window*(const std::string&, int, int, int, int, bool, WindowEvents&, std::string&, int, int);
  auto open = moduleFunction<Open>("window", "qb_window_open");
  if (!open) return open.error();
  std::string error;
  std::unique_ptr<Window> window((*open)(title, pixelWidth, pixelHeight, pointWidth, pointHeight, fullScreen,
                                         events, error, width, height));
  if (!window) return fail(error);
  return window;
}

}  // namespace platform
