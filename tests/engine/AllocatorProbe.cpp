// Frees a new[] with plain delete in a binary that links the whole engine. AddressSanitizer must
// report the mismatch; it cannot if anything in the engine replaces operator new or delete.
#include <cstdio>

#include "AudioCallbacks.h"
#include "FilterDesignPool.h"
#include "PuppetAppDelegateAudio.h"
#include "SoundTouchProcessor.h"
#include "VoiceEngineState.h"

int main() {
  // Pull every engine object into the link, as a program using the engine would.
  void (PuppetAppDelegateAudio::*const setUp)() = &PuppetAppDelegateAudio::initializeAudio;
  void (PuppetAppDelegateAudio::*const arm)() = &PuppetAppDelegateAudio::loadGreeting;
  std::printf("%zu %zu %d %p %p %p %d %d\n", filterpool::blocksInUse(), filterpool::heapFallbacks(),
              int{programMode}, reinterpret_cast<void*>(&recordingCallback),
              reinterpret_cast<void*>(&playbackCallback), reinterpret_cast<void*>(&setUpSoundTouch),
              setUp != nullptr, arm != nullptr);
  int* volatile values = new int[4];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
  delete values;
#pragma GCC diagnostic pop
  return 0;
}
