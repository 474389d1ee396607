// The greeting clip loader of the application delegate.
#include <cstdio>
#include <vector>

#include "PuppetAppDelegateAudio.h"
#include "VoiceEngineState.h"
#include "platform/AudioFile.h"
#include "platform/NSBundle.h"

namespace {
// Clips closed while a greeting was still playing out: the audio thread may still be reading
// the old handle in that cycle, so it is released at a later load, once no greeting runs, or at
// exit, when the audio has long stopped.
struct RetiredClips {
  std::vector<AudioFileID> clips;
  void release() {
    for (AudioFileID clip : clips) AudioFileClose(clip);
    clips.clear();
  }
  ~RetiredClips() { release(); }
};

RetiredClips& retiredClips() {
  static RetiredClips retired;
  return retired;
}
}  // namespace

void PuppetAppDelegateAudio::loadGreeting() {
  if (greetingIsLoaded != 0) return;
  const bool greetingRunning = programMode == kModeGreeting;
  if (!greetingRunning) retiredClips().release();

  if (AudioFileID old = greetingFileID; old != nullptr) {
    if (greetingRunning) {
      retiredClips().clips.push_back(old);
    } else {
      AudioFileClose(old);
    }
    greetingFileID = nullptr;
    greetingPlayBackOffset = 0;
    greetingCounter = 0;
    greetingCounterSoundTouch = 0;
  }

  char name[16];
  std::snprintf(name, sizeof name, "greeting%02d", 1);
  NSBundle& bundle = NSBundle::mainBundle();
  // A missing clip is opened by its expected path, so the failure names the file.
  const std::string path =
      bundle.pathForResource(name, "wav").value_or(bundle.resourcePath() + "/" + name + ".wav");
  CFURLRef url = CFURLCreateWithFileSystemPath(nullptr, path, kCFURLPOSIXPathStyle, false);
  AudioFileID clip = nullptr;
  AudioFileOpenURL(url, kAudioFileReadPermission, 0, &clip);
  greetingFileID = clip;
  greetingIsLoaded = 1;
}
