#pragma once
// UIApplication stand-in: the application object, its delegate protocol and the application
// loop. The host (the Linux program's window or headless runner) reports focus changes and asks
// for termination; the application turns them into the delegate's lifecycle calls, in order and
// each once per change.
#include <functional>
#include <memory>

class UIApplication;

class UIApplicationDelegate {
 public:
  virtual ~UIApplicationDelegate() = default;
  virtual void applicationDidFinishLaunching(UIApplication* application) = 0;
  virtual void applicationWillResignActive(UIApplication*) {}
  virtual void applicationDidBecomeActive(UIApplication*) {}
  virtual void applicationWillTerminate(UIApplication*) {}
};

class UIApplication {
 public:
  enum class State { NotLaunched, Active, Inactive, Terminated };

  // The one application object, while UIApplicationMain runs (else null).
  static UIApplication* sharedApplication();

  UIApplicationDelegate* delegate() const { return delegate_; }
  State state() const { return state_; }

  // No status bar on a desktop; kept so the launch reads as it does on the phone.
  void setStatusBarHidden(bool hidden, bool animated);
  bool isStatusBarHidden() const { return statusBarHidden_; }

  // Host side, main thread.
  void resignActive();   // Active → Inactive: applicationWillResignActive
  void becomeActive();   // Inactive → Active: applicationDidBecomeActive
  // Ends the application loop; applicationWillTerminate follows before UIApplicationMain returns.
  void terminate();

  explicit UIApplication(UIApplicationDelegate* delegate) : delegate_(delegate) {}

 private:
  friend int UIApplicationMain(UIApplicationDelegate&, const std::function<void(UIApplication&)>&);
  UIApplicationDelegate* delegate_;
  State state_ = State::NotLaunched;
  bool statusBarHidden_ = false;
  bool terminating_ = false;
};

// Runs the application: sends applicationDidFinishLaunching and applicationDidBecomeActive, calls
// `afterLaunch` (the host hooks its event sources in), runs the main run loop until terminate(),
// then sends applicationWillTerminate. Returns the process status (0).
int UIApplicationMain(UIApplicationDelegate& delegate,
                      const std::function<void(UIApplication&)>& afterLaunch = {});
