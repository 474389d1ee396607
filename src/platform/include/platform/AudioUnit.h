#pragma once
// The input/output audio unit: one duplex unit whose element 1 is the microphone side and
// element 0 the loudspeaker side. Calls go to the audio back end chosen at launch
// (platform/AudioBackend.h); without one they fail with kAudioUnitErr_NoConnection.
#include <cstdint>

#include "platform/AudioTypes.h"

using OSType = std::uint32_t;
using AudioUnitPropertyID = UInt32;
using AudioUnitScope = UInt32;
using AudioUnitElement = UInt32;

struct AudioComponentDescription {
  OSType componentType;
  OSType componentSubType;
  OSType componentManufacturer;
  UInt32 componentFlags;
  UInt32 componentFlagsMask;
};

struct OpaqueAudioComponent;
using AudioComponent = OpaqueAudioComponent*;

struct AudioStreamBasicDescription {
  double mSampleRate;
  UInt32 mFormatID;
  UInt32 mFormatFlags;
  UInt32 mBytesPerPacket;
  UInt32 mFramesPerPacket;
  UInt32 mBytesPerFrame;
  UInt32 mChannelsPerFrame;
  UInt32 mBitsPerChannel;
  UInt32 mReserved;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

struct AURenderCallbackStruct {
  AURenderCallback inputProc;
  void* inputProcRefCon;
};

constexpr OSType kAudioUnitType_Output = 0x61756f75;          // 'auou'
constexpr OSType kAudioUnitSubType_RemoteIO = 0x72696f63;     // 'rioc'
constexpr OSType kAudioUnitManufacturer_Apple = 0x6170706c;   // 'appl'
constexpr UInt32 kAudioFormatLinearPCM = 0x6c70636d;          // 'lpcm'
constexpr UInt32 kAudioFormatFlagIsSignedInteger = 4;
constexpr UInt32 kAudioFormatFlagIsPacked = 8;

constexpr AudioUnitPropertyID kAudioUnitProperty_StreamFormat = 8;
constexpr AudioUnitPropertyID kAudioUnitProperty_SetRenderCallback = 23;
constexpr AudioUnitPropertyID kAudioUnitProperty_ShouldAllocateBuffer = 51;
constexpr AudioUnitPropertyID kAudioOutputUnitProperty_EnableIO = 2003;
constexpr AudioUnitPropertyID kAudioOutputUnitProperty_SetInputCallback = 2005;

constexpr AudioUnitScope kAudioUnitScope_Global = 0;
constexpr AudioUnitScope kAudioUnitScope_Input = 1;
constexpr AudioUnitScope kAudioUnitScope_Output = 2;

constexpr OSStatus kAudioUnitErr_InvalidProperty = -10879;
constexpr OSStatus kAudioUnitErr_InvalidParameter = -10878;
constexpr OSStatus kAudioUnitErr_InvalidElement = -10877;
constexpr OSStatus kAudioUnitErr_NoConnection = -10876;
constexpr OSStatus kAudioUnitErr_FormatNotSupported = -10868;
constexpr OSStatus kAudioUnitErr_Uninitialized = -10867;
constexpr OSStatus kAudioUnitErr_CannotDoInCurrentContext = -10863;
constexpr OSStatus kAudioUnitErr_TooManyFramesToProcess = -10874;

// The one stream format the engine uses on both sides: 16-bit signed mono 44100 Hz, packed.
constexpr AudioStreamBasicDescription kQuibblersStreamFormat = {
    44100.0, kAudioFormatLinearPCM, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked,
    2, 1, 2, 1, 16, 0};

AudioComponent AudioComponentFindNext(AudioComponent inComponent,
                                      const AudioComponentDescription* inDesc);
OSStatus AudioComponentInstanceNew(AudioComponent inComponent, AudioUnit* outInstance);
OSStatus AudioUnitSetProperty(AudioUnit inUnit, AudioUnitPropertyID inID, AudioUnitScope inScope,
                              AudioUnitElement inElement, const void* inData, UInt32 inDataSize);
OSStatus AudioUnitInitialize(AudioUnit inUnit);
OSStatus AudioUnitUninitialize(AudioUnit inUnit);
OSStatus AudioOutputUnitStart(AudioUnit inUnit);
OSStatus AudioOutputUnitStop(AudioUnit inUnit);
// Audio thread, inside the input callback: copies this cycle's microphone block (element 1) into
// the first buffer of ioData, at most its byte size. Leaves the byte size unchanged.
OSStatus AudioUnitRender(AudioUnit inUnit, AudioUnitRenderActionFlags* ioActionFlags,
                         const AudioTimeStamp* inTimeStamp, UInt32 inOutputBusNumber,
                         UInt32 inNumberFrames, AudioBufferList* ioData);
