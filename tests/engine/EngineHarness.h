#pragma once
// Runs the voice engine cycle by cycle on the recording test double: a fresh engine state, then
// the app's audio set-up (session, unit with the callbacks, capture buffer, processor, mode 0),
// the session active and the unit started.
#include <cstdint>
#include <memory>
#include <vector>

#include "RecordingAudioBackend.h"

class EngineHarness {
 public:
  // `greetingFirst`: keep the engine state as the test left it (a greeting loaded before set-up).
  explicit EngineHarness(UInt32 frames = 1024, bool greetingFirst = false);
  ~EngineHarness();
  EngineHarness(const EngineHarness&) = delete;
  EngineHarness& operator=(const EngineHarness&) = delete;

  UInt32 frames() const { return frames_; }
  RecordingAudioBackend& backend() { return *backend_; }

  // One I/O cycle: the microphone block in, the loudspeaker block out.
  std::vector<std::int16_t> cycle(const std::vector<std::int16_t>& microphone);
  // One cycle with a block whose level is exactly `level` (samples alternate +level, -level).
  std::vector<std::int16_t> cycleAtLevel(std::int16_t level);
  // Feeds `signal` block by block (the last one padded with silence), then `extraCycles` of
  // silence; returns everything the loudspeaker got.
  std::vector<std::int16_t> run(const std::vector<std::int16_t>& signal, unsigned extraCycles);

  static std::vector<std::int16_t> blockAtLevel(std::int16_t level, UInt32 frames);

 private:
  UInt32 frames_;
  std::shared_ptr<RecordingAudioBackend> backend_;
};
