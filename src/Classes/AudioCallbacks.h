#pragma once
// The engine's two audio callbacks, run one after the other once per I/O cycle on the audio
// thread: the capture state machine and the playback renderer. Both return 0 always and never
// allocate, lock, block or log; the capture side reads the greeting clip (a bounded copy).
#include "platform/AudioTypes.h"

OSStatus recordingCallback(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                           const AudioTimeStamp* inTimeStamp, UInt32 inBusNumber,
                           UInt32 inNumberFrames, AudioBufferList* ioData);

OSStatus playbackCallback(void* inRefCon, AudioUnitRenderActionFlags* ioActionFlags,
                          const AudioTimeStamp* inTimeStamp, UInt32 inBusNumber,
                          UInt32 inNumberFrames, AudioBufferList* ioData);
