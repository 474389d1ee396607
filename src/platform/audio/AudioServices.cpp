// The session and unit calls, forwarded to the installed back end.
#include "platform/AudioBackend.h"

namespace platform {
namespace {
std::shared_ptr<AudioBackend>& installed() {
  static std::shared_ptr<AudioBackend> backend;
  return backend;
}
// The component handle stands for "the installed back end's I/O unit".
struct OpaqueAudioComponentTag {
} theComponent;
}  // namespace

void setAudioBackend(std::shared_ptr<AudioBackend> backend) { installed() = std::move(backend); }
AudioBackend* audioBackend() { return installed().get(); }
}  // namespace platform

using platform::audioBackend;

AudioComponent AudioComponentFindNext(AudioComponent inComponent,
                                      const AudioComponentDescription* inDesc) {
  if (inComponent != nullptr || inDesc == nullptr || audioBackend() == nullptr) return nullptr;
  if (!audioBackend()->providesComponent(*inDesc)) return nullptr;
  return reinterpret_cast<AudioComponent>(&platform::theComponent);
}

OSStatus AudioComponentInstanceNew(AudioComponent inComponent, AudioUnit* outInstance) {
  if (outInstance == nullptr) return kAudio_ParamError;
  *outInstance = nullptr;
  if (inComponent != reinterpret_cast<AudioComponent>(&platform::theComponent) ||
      audioBackend() == nullptr) {
    return kAudio_ParamError;
  }
  return audioBackend()->unitNew(outInstance);
}

OSStatus AudioUnitSetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, const void* inData, UInt32 inDataSize) {
  if (inUnit == nullptr) return kAudio_ParamError;
  return inUnit->backend->unitSetProperty(inID, inScope, inElement, inData, inDataSize);
}

OSStatus AudioUnitInitialize(AudioUnit inUnit) {
  return inUnit ? inUnit->backend->unitInitialize() : kAudio_ParamError;
}

OSStatus AudioUnitUninitialize(AudioUnit inUnit) {
  return inUnit ? inUnit->backend->unitUninitialize() : kAudio_ParamError;
}

OSStatus AudioOutputUnitStart(AudioUnit inUnit) {
  return inUnit ? inUnit->backend->unitStart() : kAudio_ParamError;
}

OSStatus AudioOutputUnitStop(AudioUnit inUnit) {
  return inUnit ? inUnit->backend->unitStop() : kAudio_ParamError;
}

OSStatus AudioUnitRender(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                         UInt32 inNumberFrames, AudioBufferList* ioData) {
  if (inUnit == nullptr) return kAudio_ParamError;
  return inUnit->backend->unitRender(ioActionFlags, inTimeStamp, inOutputBusNumber, inNumberFrames,
                                     ioData);
}

OSStatus AudioSessionInitialize(CFRunLoopRef /*inRunLoop*/, CFStringModeRef /*inRunLoopMode*/,
                                AudioSessionInterruptionListener inInterruptionListener,
                                void* inClientData) {
  if (audioBackend() == nullptr) return kAudioSessionNoHardwareError;
  return audioBackend()->sessionInitialize(inInterruptionListener, inClientData);
}

OSStatus AudioSessionSetProperty(AudioSessionPropertyID inID, UInt32 inDataSize, const void* inData) {
  if (audioBackend() == nullptr) return kAudioSessionNoHardwareError;
  return audioBackend()->sessionSetProperty(inID, inDataSize, inData);
}

OSStatus AudioSessionGetProperty(AudioSessionPropertyID inID, UInt32* ioDataSize, void* outData) {
  if (audioBackend() == nullptr) return kAudioSessionNoHardwareError;
  return audioBackend()->sessionGetProperty(inID, ioDataSize, outData);
}

OSStatus AudioSessionAddPropertyListener(AudioSessionPropertyID inID,
                                         AudioSessionPropertyListener inProc, void* inClientData) {
  if (audioBackend() == nullptr) return kAudioSessionNoHardwareError;
  return audioBackend()->sessionAddPropertyListener(inID, inProc, inClientData);
}

OSStatus AudioSessionSetActive(bool active) {
  if (audioBackend() == nullptr) return kAudioSessionNoHardwareError;
  return audioBackend()->sessionSetActive(active);
}
