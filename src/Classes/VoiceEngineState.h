#pragma once
// The voice engine's process-wide state: every variable with its load-time value. The audio
// callbacks and the main thread reach them by name; shared scalars are Relaxed<T>.
#include <cstdint>

#include "Relaxed.h"
#include "VoiceHandover.h"
#include "platform/AudioTypes.h"

// Engine modes; the numbers are fixed (comparisons like "mode <= 1" depend on them).
enum : std::uint16_t {
  kModeListening = 0,
  kModeRecording = 1,
  kModePlaying = 2,
  kModePlaybackFinished = 3,
  kModeFinishing = 4,
  kModeGreeting = 5,
};

constexpr std::uint32_t kBigPlaybackBufferSamples = 132300;  // 3 s at 44100 Hz
constexpr std::uint32_t kPlaybackFillLimit = 132299;         // the last slot is never written
constexpr std::uint32_t kCaptureBufferSamples = 3072;
constexpr std::uint32_t kCaptureBufferBytes = kCaptureBufferSamples * 2;

struct VoiceEngineState {
  // Processor and tuning parameters.
  Relaxed<std::int32_t> st_sequenceMS{45};
  Relaxed<std::int32_t> st_seekWindowMS{26};
  Relaxed<std::int32_t> st_overlapMS{5};
  Relaxed<std::int32_t> st_aaFilterLength{64};
  // The voice, handed to the audio thread whole; the three names publish one field each.
  VoiceHandover voice{{2.0f, 1.0f, 1.0f}};
  VoiceField quibblePitch{voice, &Voice::quibblePitch};
  VoiceField quibbleTimeStretch{voice, &Voice::quibbleTimeStretch};
  VoiceField gain{voice, &Voice::gain};
  Relaxed<std::uint16_t> monitoringThreshold{315};
  Relaxed<std::uint16_t> recordingThreshold{315};
  Relaxed<std::uint16_t> monitoringCounterMax{2};
  Relaxed<std::uint16_t> recordingCounterMax{12};
  Relaxed<std::uint16_t> greetingCounterMax{2};

  // Engine state.
  // Stores release, loads acquire: a thread that sees the audio thread leave the greeting also
  // sees its last read of the clip, and the audio thread that sees a greeting armed sees its clip.
  Handover<std::uint16_t> programMode{kModePlaybackFinished};
  Relaxed<std::uint16_t> monitoringCounter{0};
  Relaxed<std::uint16_t> recordingCounter{0};
  Relaxed<std::uint16_t> greetingCounter{0};
  Relaxed<std::uint16_t> greetingCounterSoundTouch{0};
  Handover<std::uint16_t> greetingIsLoaded{0};
  Handover<AudioFileID> greetingFileID{nullptr};
  Relaxed<std::uint32_t> greetingPlayBackOffset{0};
  Relaxed<std::uint32_t> playbackEnd{0};
  Relaxed<std::uint32_t> playbackOffset{0};
  Relaxed<std::uint16_t> averageLevel{0};
  Relaxed<std::uint16_t> averageLevelRunning{20};
  Relaxed<std::uint16_t> maxRecordingLevels{0};

  // Buffers and handles. Only the audio thread touches the sample buffer once the unit runs;
  // the capture buffer list and the unit are set up before it starts.
  std::int16_t bigPlaybackBuffer[kBigPlaybackBufferSamples] = {};
  AudioBufferList* audioBufferList = nullptr;
  AudioUnit audioUnit = nullptr;
};

extern VoiceEngineState voiceEngineState;

// Publishes a whole voice at once (main thread), as selecting a character does.
inline void setVoice(const Voice& voice) noexcept { voiceEngineState.voice.publish(voice); }

// Puts every variable back to its load-time value (tests). The capture buffer list and the unit
// handle are kept, as they live for the whole process.
void resetVoiceEngineState();

// Writes every page of the sample buffer once (keeping its contents), so that the first
// recording does not take page faults on the audio thread. Main thread, before audio starts.
void touchEngineBuffers();

// The engine's names.
inline auto& st_sequenceMS = voiceEngineState.st_sequenceMS;
inline auto& st_seekWindowMS = voiceEngineState.st_seekWindowMS;
inline auto& st_overlapMS = voiceEngineState.st_overlapMS;
inline auto& st_aaFilterLength = voiceEngineState.st_aaFilterLength;
inline auto& quibblePitch = voiceEngineState.quibblePitch;
inline auto& quibbleTimeStretch = voiceEngineState.quibbleTimeStretch;
inline auto& gain = voiceEngineState.gain;
inline auto& monitoringThreshold = voiceEngineState.monitoringThreshold;
inline auto& recordingThreshold = voiceEngineState.recordingThreshold;
inline auto& monitoringCounterMax = voiceEngineState.monitoringCounterMax;
inline auto& recordingCounterMax = voiceEngineState.recordingCounterMax;
inline auto& greetingCounterMax = voiceEngineState.greetingCounterMax;
inline auto& programMode = voiceEngineState.programMode;
inline auto& monitoringCounter = voiceEngineState.monitoringCounter;
inline auto& recordingCounter = voiceEngineState.recordingCounter;
inline auto& greetingCounter = voiceEngineState.greetingCounter;
inline auto& greetingCounterSoundTouch = voiceEngineState.greetingCounterSoundTouch;
inline auto& greetingIsLoaded = voiceEngineState.greetingIsLoaded;
inline auto& greetingFileID = voiceEngineState.greetingFileID;
inline auto& greetingPlayBackOffset = voiceEngineState.greetingPlayBackOffset;
inline auto& playbackEnd = voiceEngineState.playbackEnd;
inline auto& playbackOffset = voiceEngineState.playbackOffset;
inline auto& averageLevel = voiceEngineState.averageLevel;
inline auto& averageLevelRunning = voiceEngineState.averageLevelRunning;
inline auto& maxRecordingLevels = voiceEngineState.maxRecordingLevels;
inline auto& bigPlaybackBuffer = voiceEngineState.bigPlaybackBuffer;
inline auto& audioBufferList = voiceEngineState.audioBufferList;
inline auto& audioUnit = voiceEngineState.audioUnit;
