#pragma once
// The application delegate: starts analytics, audio and the character's animation at launch,
// slows the animation and stops audio while inactive, and closes everything at termination.
// Its audio operations (initializeAudio, loadGreeting) come from PuppetAppDelegateAudio.
#include <memory>

#include "CharacterAnimation.h"
#include "PuppetAppDelegateAudio.h"
#include "platform/NSTimer.h"
#include "platform/UIApplication.h"

class UIWindow;

class PuppetAppDelegate : public UIApplicationDelegate, public PuppetAppDelegateAudio {
 public:
  static constexpr double kActiveAnimationInterval = 1.0 / 24.0;
  static constexpr double kInactiveAnimationInterval = 1.0;
  static constexpr const char* kAnalyticsApplicationCode = "9d4c2b7e81f03a56c7e2d19b40f8a635";

  PuppetAppDelegate() = default;
  ~PuppetAppDelegate() override;  // dealloc

  void applicationDidFinishLaunching(UIApplication* application) override;
  void applicationWillResignActive(UIApplication* application) override;
  void applicationDidBecomeActive(UIApplication* application) override;
  void applicationWillTerminate(UIApplication* application) override;

  // Off: no analytics session is started or ended, so nothing is stored or sent (--no-analytics,
  // DO_NOT_TRACK). Set before launch.
  void setAnalyticsEnabled(bool enabled) { analyticsEnabled_ = enabled; }
  bool analyticsEnabled() const { return analyticsEnabled_; }

  // Properties and the outlet.
  const std::shared_ptr<UIWindow>& window() const { return window_; }
  void setWindow(std::shared_ptr<UIWindow> window) { window_ = std::move(window); }
  const std::shared_ptr<NSTimer>& greetingTimer() const { return greetingTimer_; }
  void setGreetingTimer(std::shared_ptr<NSTimer> timer) { greetingTimer_ = std::move(timer); }
  const std::shared_ptr<CharacterAnimation>& glView() const { return glView_; }
  void setGlView(std::shared_ptr<CharacterAnimation> view) { glView_ = std::move(view); }

 private:
  std::shared_ptr<UIWindow> window_;
  std::shared_ptr<CharacterAnimation> glView_;
  std::shared_ptr<NSTimer> greetingTimer_;
  bool analyticsEnabled_ = true;
};
