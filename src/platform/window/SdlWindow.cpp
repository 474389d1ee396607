#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "WindowManagerCheck.h"
#include "platform/Modules.h"
#include "platform/Window.h"

namespace platform {

namespace {

// Where a frame of w × h goes in a window of W × H: as large as it fits, aspect kept, centred.
SDL_Rect letterbox(int w, int h, int W, int H) {
  if (w <= 0 || h <= 0 || W <= 0 || H <= 0) return SDL_Rect{0, 0, 0, 0};
  const double scale = std::min(double(W) / w, double(H) / h);
  const int dw = std::max(1, static_cast<int>(std::lround(w * scale)));
  const int dh = std::max(1, static_cast<int>(std::lround(h * scale)));
  return SDL_Rect{(W - dw) / 2, (H - dh) / 2, dw, dh};
}

// The frame goes straight into the window's own surface (shared memory with the X server):
// one converting or scaling blit per changed frame, no renderer and no texture in between.
class SdlWindow final : public Window {
 public:
  SdlWindow(SDL_Window* window, int pointWidth, int pointHeight, WindowEvents events)
      : window_(window),
        pointWidth_(pointWidth),
        pointHeight_(pointHeight),
        events_(std::move(events)) {}

  ~SdlWindow() override {
    if (source_) SDL_FreeSurface(source_);
    SDL_DestroyWindow(window_);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

  void present(const std::uint8_t* rgba, int width, int height) override {
    if (!rgba || width <= 0 || height <= 0) return;
    SDL_Surface* screen = SDL_GetWindowSurface(window_);
    if (!screen) return;
    if (!source_ || source_->w != width || source_->h != height) {
      if (source_) SDL_FreeSurface(source_);
      source_ = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<std::uint8_t*>(rgba), width, height,
                                                   32, width * 4, SDL_PIXELFORMAT_RGBA32);
      if (!source_) return;
      SDL_SetSurfaceBlendMode(source_, SDL_BLENDMODE_NONE);  // a copy, as the frame is opaque
    }
    source_->pixels = const_cast<std::uint8_t*>(rgba);
    frameWidth_ = width;
    frameHeight_ = height;
    SDL_Rect dst = letterbox(width, height, screen->w, screen->h);
    if (screen != lastScreen_ || screen->w != lastScreenW_ || screen->h != lastScreenH_) {
      SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 0, 0, 0));  // the bars
      lastScreen_ = screen;
      lastScreenW_ = screen->w;
      lastScreenH_ = screen->h;
    }
    if (dst.w == width && dst.h == height) {
      SDL_BlitSurface(source_, nullptr, screen, &dst);
    } else {
      SDL_BlitScaled(source_, nullptr, screen, &dst);
    }
    SDL_UpdateWindowSurface(window_);
  }

  void pumpEvents() override {
    SDL_Event e;
    while (SDL_PollEvent(&e)) handle(e);
  }

  int eventFd() const override { return displayConnectionFd(window_); }

  void setFullScreen(bool fullScreen) override {
    if (fullScreen == fullScreen_) return;
    fullScreen_ = fullScreen;
    if (fullScreen) {
      SDL_GetWindowPosition(window_, &windowed_.x, &windowed_.y);
      SDL_GetWindowSize(window_, &windowed_.w, &windowed_.h);
      if (windowManagerRunning(window_)) {
        SDL_SetWindowFullscreen(window_, SDL_WINDOW_FULLSCREEN_DESKTOP);
      } else {
        coverScreen();
      }
    } else {
      if (coveredByHand_) {
        coveredByHand_ = false;
        SDL_SetWindowBordered(window_, SDL_TRUE);
        SDL_SetWindowSize(window_, windowed_.w, windowed_.h);
        SDL_SetWindowPosition(window_, windowed_.x, windowed_.y);
      } else {
        SDL_SetWindowFullscreen(window_, 0);
      }
    }
    redraw();
  }

  bool isFullScreen() const override { return fullScreen_; }

  void windowedSize(int& width, int& height) const override {
    if (fullScreen_) {
      width = windowed_.w;
      height = windowed_.h;
    } else {
      SDL_GetWindowSize(window_, &width, &height);
    }
  }

 private:
  // Full screen is the window manager's job; with none (a bare X server, as kiosks often run)
  // nobody answers the request, so the window covers its screen itself.
  void coverScreen() {
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(std::max(0, SDL_GetWindowDisplayIndex(window_)), &bounds) != 0) return;
    SDL_SetWindowBordered(window_, SDL_FALSE);
    SDL_SetWindowPosition(window_, bounds.x, bounds.y);
    SDL_SetWindowSize(window_, bounds.w, bounds.h);
    coveredByHand_ = true;
  }

  void redraw() {
    if (events_.redrawNeeded) events_.redrawNeeded();
  }

  // Window pixels → frame points, through the letterbox.
  void touch(TouchPhase phase, float x, float y) {
    if (!events_.touch) return;
    int W = 0, H = 0;
    SDL_GetWindowSize(window_, &W, &H);
    const SDL_Rect r = letterbox(frameWidth_, frameHeight_, W, H);
    if (r.w <= 0 || r.h <= 0) return;
    events_.touch(phase, (x - r.x) * pointWidth_ / r.w, (y - r.y) * pointHeight_ / r.h);
  }

  void fingerTouch(TouchPhase phase, const SDL_TouchFingerEvent& f) {
    int W = 0, H = 0;
    SDL_GetWindowSize(window_, &W, &H);
    touch(phase, f.x * W, f.y * H);
  }

  void setActive(bool active) {
    if (active == active_) return;
    active_ = active;
    if (events_.activeChanged) events_.activeChanged(active);
  }

  void key(WindowKey k) {
    if (events_.key) events_.key(k);
  }

  void handle(const SDL_Event& e) {
    switch (e.type) {
      case SDL_QUIT:
        if (events_.closeRequested) events_.closeRequested();
        break;
      case SDL_WINDOWEVENT:
        switch (e.window.event) {
          case SDL_WINDOWEVENT_FOCUS_LOST:
          case SDL_WINDOWEVENT_MINIMIZED:
          case SDL_WINDOWEVENT_HIDDEN:
            setActive(false);
            break;
          case SDL_WINDOWEVENT_FOCUS_GAINED:
          case SDL_WINDOWEVENT_RESTORED:
            setActive(true);
            break;
          case SDL_WINDOWEVENT_CLOSE:
            if (events_.closeRequested) events_.closeRequested();
            break;
          case SDL_WINDOWEVENT_SIZE_CHANGED:
            redraw();
            break;
          case SDL_WINDOWEVENT_EXPOSED:
            SDL_UpdateWindowSurface(window_);  // the surface still holds the picture
            break;
          default:
            break;
        }
        break;
      case SDL_MOUSEBUTTONDOWN:
        if (e.button.which == SDL_TOUCH_MOUSEID || e.button.button != SDL_BUTTON_LEFT) break;
        mouseDown_ = true;
        touch(TouchPhase::Began, e.button.x, e.button.y);
        break;
      case SDL_MOUSEMOTION:
        if (e.motion.which == SDL_TOUCH_MOUSEID || !mouseDown_) break;
        touch(TouchPhase::Moved, e.motion.x, e.motion.y);
        break;
      case SDL_MOUSEBUTTONUP:
        if (e.button.which == SDL_TOUCH_MOUSEID || e.button.button != SDL_BUTTON_LEFT || !mouseDown_) break;
        mouseDown_ = false;
        touch(TouchPhase::Ended, e.button.x, e.button.y);
        break;
      // Fingers come normalised to the window; one finger drives the touch.
      case SDL_FINGERDOWN:
        if (finger_ != -1) break;
        finger_ = e.tfinger.fingerId;
        fingerTouch(TouchPhase::Began, e.tfinger);
        break;
      case SDL_FINGERMOTION:
        if (e.tfinger.fingerId != finger_) break;
        fingerTouch(TouchPhase::Moved, e.tfinger);
        break;
      case SDL_FINGERUP:
        if (e.tfinger.fingerId != finger_) break;
        finger_ = -1;
        fingerTouch(TouchPhase::Ended, e.tfinger);
        break;
      case SDL_KEYDOWN:
        if (e.key.repeat) break;
        switch (e.key.keysym.sym) {
          case SDLK_LEFT: key(WindowKey::Left); break;
          case SDLK_RIGHT: key(WindowKey::Right); break;
          case SDLK_1: case SDLK_KP_1: key(WindowKey::Character1); break;
          case SDLK_2: case SDLK_KP_2: key(WindowKey::Character2); break;
          case SDLK_3: case SDLK_KP_3: key(WindowKey::Character3); break;
          case SDLK_4: case SDLK_KP_4: key(WindowKey::Character4); break;
          case SDLK_t: key(WindowKey::Tuning); break;
          case SDLK_m: key(WindowKey::Mute); break;
          case SDLK_r: key(WindowKey::Record); break;
          case SDLK_F1: case SDLK_QUESTION: key(WindowKey::Help); break;
          case SDLK_SLASH:
            if (e.key.keysym.mod & KMOD_SHIFT) key(WindowKey::Help);
            break;
          case SDLK_F11: key(WindowKey::FullScreen); break;
          case SDLK_q: key(WindowKey::Quit); break;
          case SDLK_ESCAPE: key(WindowKey::Escape); break;
          default: break;
        }
        break;
      default:
        break;
    }
  }

  SDL_Window* window_;
  bool fullScreen_ = false;
  bool coveredByHand_ = false;
  SDL_Rect windowed_{0, 0, 0, 0};
  SDL_Surface* source_ = nullptr;  // header over the caller's frame, no pixels of its own
  SDL_Surface* lastScreen_ = nullptr;
  int lastScreenW_ = 0, lastScreenH_ = 0;
  int frameWidth_ = 0, frameHeight_ = 0;
  int pointWidth_, pointHeight_;
  WindowEvents events_;
  bool mouseDown_ = false;
  bool active_ = true;
  SDL_FingerID finger_ = -1;
};

}  // namespace

namespace {

std::unique_ptr<Window> openSdlWindow(const std::string& title, int pixelWidth, int pixelHeight,
                                      int pointWidth, int pointHeight, bool fullScreen,
                                      WindowEvents events, std::string& error, int width,
                                      int height) {
  // openWindow has checked for a display before loading this module.
  // A GL window surface would take the thread's current context from EGL: a plain one.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_SetHint(SDL_HINT_MOUSE_TOUCH_EVENTS, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    error = std::string("cannot open a window: ") + SDL_GetError();
    return nullptr;
  }
  SDL_Window* window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                        pixelWidth, pixelHeight, SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN);
  if (!window) {
    error = std::string("cannot open a window: ") + SDL_GetError();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  // The largest size of the frame's shape that fits the usable area of the window's screen.
  const int display = std::max(0, SDL_GetWindowDisplayIndex(window));
  SDL_Rect usable;
  if (SDL_GetDisplayUsableBounds(display, &usable) == 0 && usable.w > 0 && usable.h > 0) {
    if (width > 0 && height > 0) {
      width = std::min(width, usable.w);
      height = std::min(height, usable.h);
    } else {
      fitFrame(pixelWidth, pixelHeight, usable.w, usable.h, width, height);
    }
    SDL_SetWindowSize(window, width, height);
    SDL_SetWindowPosition(window, usable.x + (usable.w - width) / 2, usable.y + (usable.h - height) / 2);
  }
  SDL_SetWindowMinimumSize(window, std::max(1, pixelWidth / 8), std::max(1, pixelHeight / 8));
  SDL_ShowWindow(window);
  if (!SDL_GetWindowSurface(window)) {
    error = std::string("cannot draw into the window: ") + SDL_GetError();
    SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  auto opened = std::make_unique<SdlWindow>(window, pointWidth, pointHeight, std::move(events));
  if (fullScreen) opened->setFullScreen(true);
  return opened;
}

}  // namespace

}  // namespace platform

// The window module's entry: platform::openWindow in the program loads it.
QB_MODULE_ENTRY platform::Window* qb_window_open(const std::string& title, int pixelWidth, int pixelHeight,
                                                 int pointWidth, int pointHeight, bool fullScreen,
                                                 platform::WindowEvents& events, std::string& error, int width,
                                                 int height) {
  return platform::openSdlWindow(title, pixelWidth, pixelHeight, pointWidth, pointHeight, fullScreen,
                                 std::move(events), error, width, height)
      .release();
}
