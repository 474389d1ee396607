#include "PuppetAppDelegate.h"

#include "Beacon.h"
#include "VoiceEngineState.h"
#include "platform/AudioUnit.h"
#include "platform/Log.h"

void PuppetAppDelegate::applicationDidFinishLaunching(UIApplication* application) {
  // The controller is reached later through Beacon::shared(); analytics never stops the app.
  if (analyticsEnabled_) Beacon::initAndStartBeaconWithApplicationCode(kAnalyticsApplicationCode, false, false);
  application->setStatusBarHidden(true, true);
  initializeAudio();
  if (glView_) {
    glView_->setAnimationInterval(kActiveAnimationInterval);
    glView_->startAnimation();
  }
  AudioOutputUnitStart(audioUnit);
}

void PuppetAppDelegate::applicationWillResignActive(UIApplication*) {
  if (glView_) glView_->setAnimationInterval(kInactiveAnimationInterval);
  AudioOutputUnitStop(audioUnit);
  AudioSessionSetActive(false);
}

void PuppetAppDelegate::applicationDidBecomeActive(UIApplication*) {
  if (glView_) glView_->setAnimationInterval(kActiveAnimationInterval);
  AudioSessionSetActive(true);
  AudioOutputUnitStart(audioUnit);
}

void PuppetAppDelegate::applicationWillTerminate(UIApplication*) {
  // The session is closed (and uploaded) while the audio still runs, as on the phone.
  if (analyticsEnabled_) {
    try {
      Beacon::shared()->endBeacon();
    } catch (const std::exception& e) {
      NSLog("analytics: %s", e.what());
    }
  }
  AudioOutputUnitStop(audioUnit);
  AudioUnitUninitialize(audioUnit);
  AudioSessionSetActive(false);
}

PuppetAppDelegate::~PuppetAppDelegate() {
  if (glView_) glView_->stopAnimation();
  window_.reset();
}
