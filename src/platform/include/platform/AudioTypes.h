#pragma once
// Plain data types the voice engine shares with the platform audio layer.
#include <cstdint>

using OSStatus = std::int32_t;
using UInt32 = std::uint32_t;
using AudioUnitRenderActionFlags = std::uint32_t;

constexpr OSStatus kAudio_ParamError = -50;

struct AudioTimeStamp {
  double mSampleTime = 0.0;  // frames since the unit started
  double mHostTime = 0.0;    // seconds on the run loop's clock
};

struct AudioBuffer {
  UInt32 mNumberChannels;
  UInt32 mDataByteSize;
  void* mData;
};

// Room for a buffer count and two descriptors, of which the engine uses one.
struct AudioBufferList {
  UInt32 mNumberBuffers;
  AudioBuffer mBuffers[2];
};

struct OpaqueAudioFile;
using AudioFileID = OpaqueAudioFile*;
struct OpaqueAudioUnit;
using AudioUnit = OpaqueAudioUnit*;

// The render-callback form shared by the input and output callbacks.
using AURenderCallback = OSStatus (*)(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                                      const AudioTimeStamp* inTimeStamp, UInt32 inBusNumber,
                                      UInt32 inNumberFrames, AudioBufferList* ioData);
