#pragma once
// Shared base of the audio back ends: keeps the session's and the unit's settings, checks them,
// and turns one device I/O cycle into the engine's two callbacks. A back end supplies the device:
// its route description, opening, starting, stopping and closing, and calls runCycle() from its
// one I/O thread (or run-loop timer).
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/AudioBackend.h"
#include "platform/RunLoop.h"
#include "platform/SampleRing.h"

namespace platform {

class DuplexAudioBackend : public AudioBackend {
 public:
  // The longest block handed to the callbacks; longer device blocks are split.
  static constexpr UInt32 kMaxFramesPerCycle = 3072;

  // Listeners are called on `loop` (the main run loop by default).
  explicit DuplexAudioBackend(RunLoop& loop = RunLoop::main());
  ~DuplexAudioBackend() override;

  OSStatus sessionInitialize(AudioSessionInterruptionListener listener, void* clientData) override;
  OSStatus sessionSetProperty(AudioSessionPropertyID id, UInt32 size, const void* data) override;
  OSStatus sessionGetProperty(AudioSessionPropertyID id, UInt32* ioSize, void* data) override;
  OSStatus sessionAddPropertyListener(AudioSessionPropertyID id, AudioSessionPropertyListener listener,
                                      void* clientData) override;
  OSStatus sessionSetActive(bool active) override;

  bool providesComponent(const AudioComponentDescription& description) const override;
  OSStatus unitNew(AudioUnit* outUnit) override;
  OSStatus unitSetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                           const void* data, UInt32 size) override;
  OSStatus unitInitialize() override;
  OSStatus unitUninitialize() override;
  OSStatus unitStart() override;
  OSStatus unitStop() override;
  OSStatus unitRender(AudioUnitRenderActionFlags* flags, const AudioTimeStamp* timeStamp, UInt32 bus,
                      UInt32 frames, AudioBufferList* data) override;

  // What the app has set up (main thread).
  bool sessionInitialized() const { return sessionInitialized_; }
  bool sessionActive() const { return sessionActive_; }
  UInt32 category() const { return category_; }
  UInt32 routeOverride() const { return routeOverride_; }
  bool unitInitialized() const { return unitInitialized_; }
  bool unitRunning() const { return unitRunning_; }
  std::uint64_t cyclesRun() const { return cycles_.load(std::memory_order_relaxed); }

  // Microphone off: the engine hears silence until it is switched on again. Any thread.
  void setInputMuted(bool muted) { inputMuted_.store(muted, std::memory_order_relaxed); }
  bool inputMuted() const { return inputMuted_.load(std::memory_order_relaxed); }

  // Where each cycle's bystander sound (what the engine heard plus what the loudspeaker got)
  // goes while set; null stops it. The ring must outlive the back end's use of it: clearing the
  // tap does not wait for a cycle under way. Any thread.
  void setSoundTap(SampleRing* ring) { soundTap_.store(ring, std::memory_order_release); }

  // One I/O cycle from the device thread: `in` holds `frames` microphone samples (null or muted:
  // silence), `out` receives as many loudspeaker samples. Calls the input callback, then the
  // render callback, in pieces of at most kMaxFramesPerCycle. Never allocates, locks or blocks.
  void runCycle(const std::int16_t* in, std::int16_t* out, UInt32 frames, double hostTime);

 protected:
  // The device's description, reported as the session's route.
  virtual std::string deviceRoute() const = 0;
  virtual OSStatus deviceOpen() { return 0; }
  virtual OSStatus deviceStart() = 0;
  virtual void deviceStop() = 0;
  virtual void deviceClose() {}
  // The loudspeaker override changed (kAudioSessionOverrideAudioRoute_Speaker or _None).
  virtual void deviceOverrideRoute(UInt32 /*override*/) {}

  // Any thread: delivers an interruption state / a route change to the listeners on the loop.
  void announceInterruption(UInt32 state);
  void announceRouteChange();

  RunLoop& loop() { return loop_; }

 private:
  RunLoop& loop_;
  OpaqueAudioUnit unit_{this};

  bool sessionInitialized_ = false;
  AudioSessionInterruptionListener interruptionListener_ = nullptr;
  void* interruptionClientData_ = nullptr;
  UInt32 category_ = 0;
  UInt32 routeOverride_ = kAudioSessionOverrideAudioRoute_None;
  bool sessionActive_ = false;
  std::vector<std::pair<AudioSessionPropertyListener, void*>> routeListeners_;

  bool inputEnabled_ = false;
  bool outputEnabled_ = false;
  bool inputFormatSet_ = false;
  bool outputFormatSet_ = false;
  bool shouldAllocateBuffer_ = true;
  AURenderCallbackStruct inputCallback_{nullptr, nullptr};
  AURenderCallbackStruct renderCallback_{nullptr, nullptr};
  std::atomic<bool> unitInitialized_{false};
  std::atomic<bool> unitRunning_{false};

  // Audio thread only: the block of the cycle being run.
  const std::int16_t* cycleInput_ = nullptr;
  UInt32 cycleFrames_ = 0;
  double sampleTime_ = 0.0;
  std::atomic<std::uint64_t> cycles_{0};
  std::atomic<bool> inputMuted_{false};
  std::atomic<SampleRing*> soundTap_{nullptr};
};

}  // namespace platform
