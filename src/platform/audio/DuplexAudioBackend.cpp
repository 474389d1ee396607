#include "DuplexAudioBackend.h"

#include <algorithm>
#include <cstring>

namespace platform {

namespace {
bool isEngineFormat(const AudioStreamBasicDescription& f) {
  const AudioStreamBasicDescription& want = kQuibblersStreamFormat;
  return f.mSampleRate == want.mSampleRate && f.mFormatID == want.mFormatID &&
         (f.mFormatFlags & want.mFormatFlags) == want.mFormatFlags &&
         f.mBytesPerPacket == want.mBytesPerPacket && f.mFramesPerPacket == want.mFramesPerPacket &&
         f.mBytesPerFrame == want.mBytesPerFrame && f.mChannelsPerFrame == want.mChannelsPerFrame &&
         f.mBitsPerChannel == want.mBitsPerChannel;
}
}  // namespace

DuplexAudioBackend::DuplexAudioBackend(RunLoop& loop) : loop_(loop) {}

DuplexAudioBackend::~DuplexAudioBackend() = default;

OSStatus DuplexAudioBackend::sessionInitialize(AudioSessionInterruptionListener listener,
                                               void* clientData) {
  if (sessionInitialized_) return kAudioSessionAlreadyInitialized;
  sessionInitialized_ = true;
  interruptionListener_ = listener;
  interruptionClientData_ = clientData;
  return 0;
}

OSStatus DuplexAudioBackend::sessionSetProperty(AudioSessionPropertyID id, UInt32 size,
                                                const void* data) {
  if (!sessionInitialized_) return kAudioSessionNotInitialized;
  if (id != kAudioSessionProperty_AudioCategory && id != kAudioSessionProperty_OverrideAudioRoute) {
    return kAudioSessionUnsupportedPropertyError;
  }
  if (size != sizeof(UInt32) || data == nullptr) return kAudioSessionBadPropertySizeError;
  UInt32 value;
  std::memcpy(&value, data, sizeof value);
  if (id == kAudioSessionProperty_AudioCategory) {
    category_ = value;
  } else {
    routeOverride_ = value;
    deviceOverrideRoute(value);
  }
  return 0;
}

OSStatus DuplexAudioBackend::sessionGetProperty(AudioSessionPropertyID id, UInt32* ioSize,
                                                void* data) {
  if (!sessionInitialized_) return kAudioSessionNotInitialized;
  if (ioSize == nullptr || data == nullptr) return kAudioSessionBadPropertySizeError;
  if (id == kAudioSessionProperty_AudioRoute) {
    if (*ioSize < sizeof(CFStringRef)) return kAudioSessionBadPropertySizeError;
    *static_cast<CFStringRef*>(data) = CFStringCreate(deviceRoute());
    *ioSize = sizeof(CFStringRef);
    return 0;
  }
  if (id == kAudioSessionProperty_AudioCategory) {
    if (*ioSize < sizeof(UInt32)) return kAudioSessionBadPropertySizeError;
    std::memcpy(data, &category_, sizeof(UInt32));
    *ioSize = sizeof(UInt32);
    return 0;
  }
  return kAudioSessionUnsupportedPropertyError;
}

OSStatus DuplexAudioBackend::sessionAddPropertyListener(AudioSessionPropertyID id,
                                                        AudioSessionPropertyListener listener,
                                                        void* clientData) {
  if (!sessionInitialized_) return kAudioSessionNotInitialized;
  if (id != kAudioSessionProperty_AudioRouteChange) return kAudioSessionUnsupportedPropertyError;
  if (listener == nullptr) return kAudio_ParamError;
  routeListeners_.emplace_back(listener, clientData);
  return 0;
}

OSStatus DuplexAudioBackend::sessionSetActive(bool active) {
  if (!sessionInitialized_) return kAudioSessionNotInitialized;
  sessionActive_ = active;
  return 0;
}

bool DuplexAudioBackend::providesComponent(const AudioComponentDescription& d) const {
  return d.componentType == kAudioUnitType_Output &&
         d.componentSubType == kAudioUnitSubType_RemoteIO &&
         d.componentManufacturer == kAudioUnitManufacturer_Apple;
}

OSStatus DuplexAudioBackend::unitNew(AudioUnit* outUnit) {
  if (outUnit == nullptr) return kAudio_ParamError;
  *outUnit = &unit_;
  return 0;
}

OSStatus DuplexAudioBackend::unitSetProperty(AudioUnitPropertyID id, AudioUnitScope scope,
                                             AudioUnitElement element, const void* data,
                                             UInt32 size) {
  if (data == nullptr) return kAudio_ParamError;
  // Callbacks and formats are read by the I/O thread without a lock: change them only while
  // the unit is stopped.
  if (unitRunning_) return kAudioUnitErr_CannotDoInCurrentContext;
  switch (id) {
    case kAudioOutputUnitProperty_EnableIO: {
      if (size != sizeof(UInt32)) return kAudioUnitErr_InvalidParameter;
      UInt32 on;
      std::memcpy(&on, data, sizeof on);
      if (scope == kAudioUnitScope_Input && element == 1) {
        inputEnabled_ = on != 0;
      } else if (scope == kAudioUnitScope_Output && element == 0) {
        outputEnabled_ = on != 0;
      } else {
        return kAudioUnitErr_InvalidElement;
      }
      return 0;
    }
    case kAudioUnitProperty_StreamFormat: {
      if (size != sizeof(AudioStreamBasicDescription)) return kAudioUnitErr_InvalidParameter;
      AudioStreamBasicDescription format;
      std::memcpy(&format, data, sizeof format);
      if (!isEngineFormat(format)) return kAudioUnitErr_FormatNotSupported;
      if (scope == kAudioUnitScope_Output && element == 1) {
        inputFormatSet_ = true;
      } else if (scope == kAudioUnitScope_Input && element == 0) {
        outputFormatSet_ = true;
      } else {
        return kAudioUnitErr_InvalidElement;
      }
      return 0;
    }
    case kAudioOutputUnitProperty_SetInputCallback:
    case kAudioUnitProperty_SetRenderCallback: {
      if (size != sizeof(AURenderCallbackStruct)) return kAudioUnitErr_InvalidParameter;
      const bool input = id == kAudioOutputUnitProperty_SetInputCallback;
      if (element != (input ? 1u : 0u)) return kAudioUnitErr_InvalidElement;
      std::memcpy(input ? &inputCallback_ : &renderCallback_, data, sizeof(AURenderCallbackStruct));
      return 0;
    }
    case kAudioUnitProperty_ShouldAllocateBuffer: {
      if (size != sizeof(UInt32)) return kAudioUnitErr_InvalidParameter;
      UInt32 on;
      std::memcpy(&on, data, sizeof on);
      shouldAllocateBuffer_ = on != 0;
      return 0;
    }
    default:
      return kAudioUnitErr_InvalidProperty;
  }
}

OSStatus DuplexAudioBackend::unitInitialize() {
  if (unitInitialized_) return 0;
  const OSStatus status = deviceOpen();
  if (status == 0) unitInitialized_ = true;
  return status;
}

OSStatus DuplexAudioBackend::unitUninitialize() {
  unitStop();
  if (unitInitialized_) deviceClose();
  unitInitialized_ = false;
  return 0;
}

OSStatus DuplexAudioBackend::unitStart() {
  if (!unitInitialized_) return kAudioUnitErr_Uninitialized;
  if (unitRunning_) return 0;
  unitRunning_ = true;  // before the device thread can run its first cycle
  const OSStatus status = deviceStart();
  if (status != 0) unitRunning_ = false;
  return status;
}

OSStatus DuplexAudioBackend::unitStop() {
  if (!unitRunning_) return 0;
  deviceStop();
  unitRunning_ = false;
  return 0;
}

OSStatus DuplexAudioBackend::unitRender(AudioUnitRenderActionFlags* /*flags*/,
                                        const AudioTimeStamp* /*timeStamp*/, UInt32 bus,
                                        UInt32 frames, AudioBufferList* data) {
  if (!unitInitialized_) return kAudioUnitErr_Uninitialized;
  if (bus != 1) return kAudioUnitErr_InvalidElement;
  if (data == nullptr || data->mNumberBuffers < 1 || data->mBuffers[0].mData == nullptr) {
    return kAudio_ParamError;
  }
  const UInt32 capacity = data->mBuffers[0].mDataByteSize / 2;
  const UInt32 wanted = std::min(frames, capacity);
  auto* dst = static_cast<std::int16_t*>(data->mBuffers[0].mData);
  const UInt32 available = (inputEnabled_ && cycleInput_) ? std::min(wanted, cycleFrames_) : 0;
  if (available > 0) std::memcpy(dst, cycleInput_, available * sizeof(std::int16_t));
  std::memset(dst + available, 0, (wanted - available) * sizeof(std::int16_t));
  if (frames > capacity) return kAudioUnitErr_TooManyFramesToProcess;
  return cycleInput_ || !inputEnabled_ ? 0 : kAudioUnitErr_CannotDoInCurrentContext;
}

void DuplexAudioBackend::runCycle(const std::int16_t* in, std::int16_t* out, UInt32 frames,
                                  double hostTime) {
  static const std::int16_t kSilence[kMaxFramesPerCycle] = {};
  const bool muted = inputMuted_.load(std::memory_order_relaxed);
  while (frames > 0) {
    const UInt32 piece = std::min(frames, kMaxFramesPerCycle);
    cycleInput_ = in && !muted ? in : kSilence;
    cycleFrames_ = piece;
    AudioTimeStamp stamp{sampleTime_, hostTime};
    AudioUnitRenderActionFlags flags = 0;
    if (inputCallback_.inputProc && inputEnabled_) {
      inputCallback_.inputProc(inputCallback_.inputProcRefCon, &flags, &stamp, 1, piece, nullptr);
    }
    AudioBufferList list{1, {{1, piece * 2, out}, {0, 0, nullptr}}};
    if (renderCallback_.inputProc && outputEnabled_) {
      flags = 0;
      renderCallback_.inputProc(renderCallback_.inputProcRefCon, &flags, &stamp, 0, piece, &list);
    } else {
      std::memset(out, 0, piece * sizeof(std::int16_t));
    }
    if (SampleRing* tap = soundTap_.load(std::memory_order_acquire)) {
      tap->pushMixed(cycleInput_, out, piece);
    }
    cycleInput_ = nullptr;
    cycleFrames_ = 0;
    sampleTime_ += piece;
    cycles_.fetch_add(1, std::memory_order_relaxed);
    if (in) in += piece;
    out += piece;
    frames -= piece;
  }
}

void DuplexAudioBackend::announceInterruption(UInt32 state) {
  loop_.post([this, state] {
    if (interruptionListener_) interruptionListener_(interruptionClientData_, state);
  });
}

void DuplexAudioBackend::announceRouteChange() {
  loop_.post([this] {
    for (const auto& [listener, clientData] : routeListeners_) {
      listener(clientData, kAudioSessionProperty_AudioRouteChange, 0, nullptr);
    }
  });
}

}  // namespace platform
