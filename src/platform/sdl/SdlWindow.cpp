#include <SDL.h>

#include <algorithm>
#include <cstdlib>

#include "platform/window.h"

namespace platform {

namespace {

class SdlWindow final : public Window {
 public:
  SdlWindow(SDL_Window* window, SDL_Renderer* renderer, SDL_Texture* texture, int pixelWidth,
            int pixelHeight, int pointWidth, int pointHeight, WindowEvents events)
      : window_(window),
        renderer_(renderer),
        texture_(texture),
        pixelWidth_(pixelWidth),
        pixelHeight_(pixelHeight),
        pointScaleX_(static_cast<float>(pointWidth) / pixelWidth),
        pointScaleY_(static_cast<float>(pointHeight) / pixelHeight),
        pointWidth_(pointWidth),
        pointHeight_(pointHeight),
        events_(std::move(events)) {}

  ~SdlWindow() override {
    SDL_DestroyTexture(texture_);
    SDL_DestroyRenderer(renderer_);
    SDL_DestroyWindow(window_);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

  void present(const std::uint8_t* rgba, int width, int height) override {
    if (width != pixelWidth_ || height != pixelHeight_) return;
    SDL_UpdateTexture(texture_, nullptr, rgba, width * 4);
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
  }

  void pumpEvents() override {
    SDL_Event e;
    while (SDL_PollEvent(&e)) handle(e);
  }

 private:
  void touch(TouchPhase phase, float xPoints, float yPoints) {
    if (events_.touch) events_.touch(phase, xPoints, yPoints);
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
          default:
            break;
        }
        break;
      // The renderer's logical size maps mouse positions onto frame pixels.
      case SDL_MOUSEBUTTONDOWN:
        if (e.button.which == SDL_TOUCH_MOUSEID || e.button.button != SDL_BUTTON_LEFT) break;
        mouseDown_ = true;
        touch(TouchPhase::Began, e.button.x * pointScaleX_, e.button.y * pointScaleY_);
        break;
      case SDL_MOUSEMOTION:
        if (e.motion.which == SDL_TOUCH_MOUSEID || !mouseDown_) break;
        touch(TouchPhase::Moved, e.motion.x * pointScaleX_, e.motion.y * pointScaleY_);
        break;
      case SDL_MOUSEBUTTONUP:
        if (e.button.which == SDL_TOUCH_MOUSEID || e.button.button != SDL_BUTTON_LEFT || !mouseDown_) break;
        mouseDown_ = false;
        touch(TouchPhase::Ended, e.button.x * pointScaleX_, e.button.y * pointScaleY_);
        break;
      // Fingers come normalised to the window; one finger drives the touch.
      case SDL_FINGERDOWN:
        if (finger_ != -1) break;
        finger_ = e.tfinger.fingerId;
        touch(TouchPhase::Began, e.tfinger.x * pointWidth_, e.tfinger.y * pointHeight_);
        break;
      case SDL_FINGERMOTION:
        if (e.tfinger.fingerId != finger_) break;
        touch(TouchPhase::Moved, e.tfinger.x * pointWidth_, e.tfinger.y * pointHeight_);
        break;
      case SDL_FINGERUP:
        if (e.tfinger.fingerId != finger_) break;
        finger_ = -1;
        touch(TouchPhase::Ended, e.tfinger.x * pointWidth_, e.tfinger.y * pointHeight_);
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
          case SDLK_ESCAPE: case SDLK_q: key(WindowKey::Quit); break;
          default: break;
        }
        break;
      default:
        break;
    }
  }

  SDL_Window* window_;
  SDL_Renderer* renderer_;
  SDL_Texture* texture_;
  int pixelWidth_, pixelHeight_;
  float pointScaleX_, pointScaleY_;
  int pointWidth_, pointHeight_;
  WindowEvents events_;
  bool mouseDown_ = false;
  bool active_ = true;
  SDL_FingerID finger_ = -1;
};

}  // namespace

bool displayAvailable() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

std::unique_ptr<Window> openWindow(const std::string& title, int pixelWidth, int pixelHeight,
                                   int pointWidth, int pointHeight, WindowEvents events,
                                   std::string& error) {
  if (!displayAvailable()) {
    error = "no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    return nullptr;
  }
  // SDL's own GL context would take the thread's current context from EGL: software only.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
  SDL_SetHint(SDL_HINT_MOUSE_TOUCH_EVENTS, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    error = std::string("cannot open a window: ") + SDL_GetError();
    return nullptr;
  }
  // Fit the frame on smaller screens, keeping its aspect.
  int width = pixelWidth;
  int height = pixelHeight;
  SDL_Rect usable;
  if (SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.h > 0) {
    const double scale = std::min({1.0, usable.w * 0.95 / pixelWidth, usable.h * 0.95 / pixelHeight});
    width = static_cast<int>(pixelWidth * scale);
    height = static_cast<int>(pixelHeight * scale);
  }
  SDL_Window* window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                        width, height, SDL_WINDOW_RESIZABLE);
  if (!window) {
    error = std::string("cannot open a window: ") + SDL_GetError();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
  SDL_Texture* texture = renderer ? SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGBA32,
                                                      SDL_TEXTUREACCESS_STREAMING, pixelWidth,
                                                      pixelHeight)
                                  : nullptr;
  if (!texture) {
    error = std::string("cannot draw into the window: ") + SDL_GetError();
    if (renderer) SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return nullptr;
  }
  SDL_RenderSetLogicalSize(renderer, pixelWidth, pixelHeight);
  return std::make_unique<SdlWindow>(window, renderer, texture, pixelWidth, pixelHeight,
                                     pointWidth, pointHeight, std::move(events));
}

}  // namespace platform
