#pragma once
// Test double of the audio back end: logs every session and unit call the app makes, in order,
// reports a route the test chooses, and lets the test deliver route changes and interruptions
// and run I/O cycles by hand.
#include <cstdint>
#include <string>
#include <vector>

#include "DuplexAudioBackend.h"

class RecordingAudioBackend : public platform::DuplexAudioBackend {
 public:
  explicit RecordingAudioBackend(platform::RunLoop& loop = platform::RunLoop::main());

  // "AudioSessionSetProperty acat plar", "AudioUnitSetProperty 2003 scope 1 element 1 = 1", ...
  const std::vector<std::string>& calls() const { return calls_; }
  void clearCalls() { calls_.clear(); }
  // Index of the first logged call that starts with `prefix`, or -1.
  int indexOf(const std::string& prefix) const;

  void setRoute(std::string route) { route_ = std::move(route); }
  // Sets the route and delivers the route-change notification on the loop.
  void changeRoute(std::string route);
  // Delivers an interruption state on the loop.
  void interrupt(UInt32 state) { announceInterruption(state); }

  // One I/O cycle with this microphone block; returns the loudspeaker block.
  std::vector<std::int16_t> cycle(const std::vector<std::int16_t>& microphone);

  OSStatus sessionInitialize(AudioSessionInterruptionListener listener, void* clientData) override;
  OSStatus sessionSetProperty(AudioSessionPropertyID id, UInt32 size, const void* data) override;
  OSStatus sessionGetProperty(AudioSessionPropertyID id, UInt32* ioSize, void* data) override;
  OSStatus sessionAddPropertyListener(AudioSessionPropertyID id, AudioSessionPropertyListener listener,
                                      void* clientData) override;
  OSStatus sessionSetActive(bool active) override;
  OSStatus unitNew(AudioUnit* outUnit) override;
  OSStatus unitSetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                           const void* data, UInt32 size) override;
  OSStatus unitInitialize() override;
  OSStatus unitUninitialize() override;
  OSStatus unitStart() override;
  OSStatus unitStop() override;

 protected:
  std::string deviceRoute() const override { return route_; }
  OSStatus deviceStart() override { return 0; }
  void deviceStop() override {}

 private:
  std::vector<std::string> calls_;
  std::string route_ = "SpeakerAndMicrophone";
};

// 'acat' style text of a four-character code (digits when it is not printable).
std::string fourCharCode(std::uint32_t code);
