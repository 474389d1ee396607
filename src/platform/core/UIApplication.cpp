#include "platform/UIApplication.h"

#include "platform/RunLoop.h"

namespace {
UIApplication* current = nullptr;
}

UIApplication* UIApplication::sharedApplication() { return current; }

void UIApplication::setStatusBarHidden(bool hidden, bool /*animated*/) { statusBarHidden_ = hidden; }

void UIApplication::resignActive() {
  if (state_ != State::Active) return;
  state_ = State::Inactive;
  if (delegate_) delegate_->applicationWillResignActive(this);
}

void UIApplication::becomeActive() {
  if (state_ != State::Inactive) return;
  state_ = State::Active;
  if (delegate_) delegate_->applicationDidBecomeActive(this);
}

void UIApplication::terminate() {
  if (terminating_ || state_ == State::Terminated) return;
  terminating_ = true;
  platform::RunLoop::main().stop();
}

int UIApplicationMain(UIApplicationDelegate& delegate,
                      const std::function<void(UIApplication&)>& afterLaunch) {
  UIApplication application(&delegate);
  current = &application;
  delegate.applicationDidFinishLaunching(&application);
  application.state_ = UIApplication::State::Inactive;
  application.becomeActive();
  if (afterLaunch) afterLaunch(application);
  if (!application.terminating_) platform::RunLoop::main().run();
  application.state_ = UIApplication::State::Terminated;
  delegate.applicationWillTerminate(&application);
  current = nullptr;
  return 0;
}
