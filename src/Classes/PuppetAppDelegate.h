#pragma once
// The application delegate. Its audio operations are defined in AudioSetup.cpp (initializeAudio
// and the two session listeners) and Greeting.cpp (loadGreeting); the lifecycle lives in
// PuppetAppDelegate.cpp.
#include "platform/audio_session.h"

class PuppetAppDelegate {
 public:
  // Prepares the audio session, the I/O unit with the engine's two callbacks, the capture
  // buffer, the processor and the initial mode (greeting if one was armed, else listening).
  // Once, on the main thread, before the unit is started; the session is left inactive.
  void initializeAudio();

  // Arms the greeting clip greeting01.wav: opens it (again, from its start, once an earlier
  // one was read to its end) and marks a greeting as loaded. Does nothing while one is loaded.
  void loadGreeting();
};

// Session listeners, called on the main run loop.
void interruptionListenerCallback(void* inClientData, UInt32 inInterruptionState);
void routeChangeCallback(void* inClientData, AudioSessionPropertyID inID, UInt32 inDataSize,
                         const void* inData);
