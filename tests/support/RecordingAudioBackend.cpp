#include "RecordingAudioBackend.h"

#include <cstring>

std::string fourCharCode(std::uint32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((code >> shift) & 0xff);
    if (c < 0x20 || c > 0x7e) return std::to_string(code);
    text += c;
  }
  return text;
}

namespace {
std::string uint32At(const void* data, UInt32 size) {
  if (data == nullptr || size != 4) return "?";
  UInt32 value;
  std::memcpy(&value, data, 4);
  return value > 0xffff ? fourCharCode(value) : std::to_string(value);
}
}  // namespace

RecordingAudioBackend::RecordingAudioBackend(platform::RunLoop& loop) : DuplexAudioBackend(loop) {}

int RecordingAudioBackend::indexOf(const std::string& prefix) const {
  for (std::size_t i = 0; i < calls_.size(); ++i) {
    if (calls_[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  }
  return -1;
}

void RecordingAudioBackend::changeRoute(std::string route) {
  route_ = std::move(route);
  announceRouteChange();
}

std::vector<std::int16_t> RecordingAudioBackend::cycle(const std::vector<std::int16_t>& microphone) {
  std::vector<std::int16_t> speaker(microphone.size());
  runCycle(microphone.data(), speaker.data(), static_cast<UInt32>(microphone.size()), 0.0);
  return speaker;
}

OSStatus RecordingAudioBackend::sessionInitialize(AudioSessionInterruptionListener listener,
                                                  void* clientData) {
  calls_.push_back("AudioSessionInitialize");
  return DuplexAudioBackend::sessionInitialize(listener, clientData);
}

OSStatus RecordingAudioBackend::sessionSetProperty(AudioSessionPropertyID id, UInt32 size,
                                                   const void* data) {
  calls_.push_back("AudioSessionSetProperty " + fourCharCode(id) + " " + uint32At(data, size));
  return DuplexAudioBackend::sessionSetProperty(id, size, data);
}

OSStatus RecordingAudioBackend::sessionGetProperty(AudioSessionPropertyID id, UInt32* ioSize,
                                                   void* data) {
  calls_.push_back("AudioSessionGetProperty " + fourCharCode(id));
  return DuplexAudioBackend::sessionGetProperty(id, ioSize, data);
}

OSStatus RecordingAudioBackend::sessionAddPropertyListener(AudioSessionPropertyID id,
                                                           AudioSessionPropertyListener listener,
                                                           void* clientData) {
  calls_.push_back("AudioSessionAddPropertyListener " + fourCharCode(id));
  return DuplexAudioBackend::sessionAddPropertyListener(id, listener, clientData);
}

OSStatus RecordingAudioBackend::sessionSetActive(bool active) {
  calls_.push_back(std::string("AudioSessionSetActive ") + (active ? "true" : "false"));
  return DuplexAudioBackend::sessionSetActive(active);
}

OSStatus RecordingAudioBackend::unitNew(AudioUnit* outUnit) {
  calls_.push_back("AudioComponentInstanceNew");
  return DuplexAudioBackend::unitNew(outUnit);
}

OSStatus RecordingAudioBackend::unitSetProperty(AudioUnitPropertyID id, AudioUnitScope scope,
                                                AudioUnitElement element, const void* data,
                                                UInt32 size) {
  std::string value;
  if (id == kAudioUnitProperty_StreamFormat && size == sizeof(AudioStreamBasicDescription)) {
    AudioStreamBasicDescription f;
    std::memcpy(&f, data, sizeof f);
    value = std::to_string(static_cast<int>(f.mSampleRate)) + " " + fourCharCode(f.mFormatID) + " " +
            std::to_string(f.mFormatFlags) + " " + std::to_string(f.mChannelsPerFrame) + "ch " +
            std::to_string(f.mBitsPerChannel) + "bit";
  } else if (id == kAudioOutputUnitProperty_SetInputCallback ||
             id == kAudioUnitProperty_SetRenderCallback) {
    value = "callback";
  } else {
    value = uint32At(data, size);
  }
  calls_.push_back("AudioUnitSetProperty " + std::to_string(id) + " scope " + std::to_string(scope) +
                   " element " + std::to_string(element) + " = " + value);
  return DuplexAudioBackend::unitSetProperty(id, scope, element, data, size);
}

OSStatus RecordingAudioBackend::unitInitialize() {
  calls_.push_back("AudioUnitInitialize");
  return DuplexAudioBackend::unitInitialize();
}

OSStatus RecordingAudioBackend::unitUninitialize() {
  calls_.push_back("AudioUnitUninitialize");
  return DuplexAudioBackend::unitUninitialize();
}

OSStatus RecordingAudioBackend::unitStart() {
  calls_.push_back("AudioOutputUnitStart");
  return DuplexAudioBackend::unitStart();
}

OSStatus RecordingAudioBackend::unitStop() {
  calls_.push_back("AudioOutputUnitStop");
  return DuplexAudioBackend::unitStop();
}
