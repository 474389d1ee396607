#pragma once
// The audio half of the application delegate: the audio set-up (AudioSetup.cpp), the greeting
// loader (Greeting.cpp) and the two session listeners. It touches only the engine's
// process-wide state, so it lives with the engine and is tested without a window or a GL view;
// PuppetAppDelegate adds the application lifecycle on top.
#include "platform/AudioSession.h"

class PuppetAppDelegateAudio {
 public:
  // Prepares the audio session, the I/O unit with the engine's two callbacks, the capture
  // buffer, the processor and the initial mode (greeting if one was armed, else listening).
  // Once, on the main thread, before the unit is started; the session is left inactive.
  void initializeAudio();

  // Off: the set-up skips the processor's warm-up and the pre-touching of the engine's buffers,
  // which only keep the audio callbacks from allocating and faulting under a real-time deadline.
  // A run in virtual time has no deadline and gets the same samples without them. Set before
  // initializeAudio().
  void setRealTimeWarmUp(bool warmUp) { realTimeWarmUp_ = warmUp; }

  // Arms the greeting clip greeting01.wav: opens it (again, from its start, once an earlier
  // one was read to its end) and marks a greeting as loaded. Does nothing while one is loaded.
  void loadGreeting();

 private:
  bool realTimeWarmUp_ = true;
};

// Session listeners, called on the main run loop.
void interruptionListenerCallback(void* inClientData, UInt32 inInterruptionState);
void routeChangeCallback(void* inClientData, AudioSessionPropertyID inID, UInt32 inDataSize,
                         const void* inData);
