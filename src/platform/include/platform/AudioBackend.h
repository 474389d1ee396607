#pragma once
// The audio back end behind the session and unit calls: a live device, the offline WAV device
// or a test double. The launcher installs one before the app sets audio up; the app never
// names it. Back ends usually derive from platform::DuplexAudioBackend (platform/audio), which
// does the bookkeeping and leaves them the device itself.
#include <memory>

#include "platform/AudioSession.h"
#include "platform/AudioUnit.h"

namespace platform {
class AudioBackend;
}

// The unit handle the engine holds: its back end.
struct OpaqueAudioUnit {
  platform::AudioBackend* backend;
};

namespace platform {

class AudioBackend {
 public:
  virtual ~AudioBackend() = default;

  // Session.
  virtual OSStatus sessionInitialize(AudioSessionInterruptionListener listener, void* clientData) = 0;
  virtual OSStatus sessionSetProperty(AudioSessionPropertyID id, UInt32 size, const void* data) = 0;
  virtual OSStatus sessionGetProperty(AudioSessionPropertyID id, UInt32* ioSize, void* data) = 0;
  virtual OSStatus sessionAddPropertyListener(AudioSessionPropertyID id,
                                              AudioSessionPropertyListener listener,
                                              void* clientData) = 0;
  virtual OSStatus sessionSetActive(bool active) = 0;

  // The one I/O unit.
  virtual bool providesComponent(const AudioComponentDescription& description) const = 0;
  virtual OSStatus unitNew(AudioUnit* outUnit) = 0;
  virtual OSStatus unitSetProperty(AudioUnitPropertyID id, AudioUnitScope scope,
                                   AudioUnitElement element, const void* data, UInt32 size) = 0;
  virtual OSStatus unitInitialize() = 0;
  virtual OSStatus unitUninitialize() = 0;
  virtual OSStatus unitStart() = 0;
  virtual OSStatus unitStop() = 0;
  // Audio thread.
  virtual OSStatus unitRender(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp,
                              UInt32 bus, UInt32 frames, AudioBufferList* data) = 0;
};

// Installs the back end the session and unit calls use (none: they fail). Main thread, before
// audio set-up; the caller keeps it alive while a unit created from it may run.
void setAudioBackend(std::shared_ptr<AudioBackend> backend);
AudioBackend* audioBackend();

}  // namespace platform
