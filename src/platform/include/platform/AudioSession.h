#pragma once
// The audio session: category, route, route override, activation, and the listeners through
// which interruptions and route changes arrive on the main run loop. Calls go to the audio back
// end chosen at launch (platform/AudioBackend.h).
#include <cstdint>

#include "platform/AudioTypes.h"
#include "platform/CoreFoundation.h"

using AudioSessionPropertyID = UInt32;

constexpr AudioSessionPropertyID kAudioSessionProperty_AudioCategory = 0x61636174;       // 'acat'
constexpr AudioSessionPropertyID kAudioSessionProperty_AudioRoute = 0x726f7574;          // 'rout'
constexpr AudioSessionPropertyID kAudioSessionProperty_OverrideAudioRoute = 0x6f767264;  // 'ovrd'
constexpr AudioSessionPropertyID kAudioSessionProperty_AudioRouteChange = 0x726f6368;    // 'roch'
constexpr UInt32 kAudioSessionCategory_PlayAndRecord = 0x706c6172;                       // 'plar'
constexpr UInt32 kAudioSessionOverrideAudioRoute_None = 0;
constexpr UInt32 kAudioSessionOverrideAudioRoute_Speaker = 0x73706b72;                   // 'spkr'

constexpr UInt32 kAudioSessionBeginInterruption = 1;
constexpr UInt32 kAudioSessionEndInterruption = 0;

constexpr OSStatus kAudioSessionNotInitialized = 0x21696e69;       // '!ini'
constexpr OSStatus kAudioSessionAlreadyInitialized = 0x696e6974;   // 'init'
constexpr OSStatus kAudioSessionUnsupportedPropertyError = 0x3f707274;  // '?prt'
constexpr OSStatus kAudioSessionBadPropertySizeError = 0x2173697a;      // '!siz'
constexpr OSStatus kAudioSessionNoHardwareError = 0x6e6f6877;           // 'nohw'

using AudioSessionInterruptionListener = void (*)(void* inClientData, UInt32 inInterruptionState);
using AudioSessionPropertyListener = void (*)(void* inClientData, AudioSessionPropertyID inID,
                                              UInt32 inDataSize, const void* inData);

struct RunLoopRef_;  // only "none" (the main run loop) is supported
using CFRunLoopRef = RunLoopRef_*;
using CFStringModeRef = const char*;

OSStatus AudioSessionInitialize(CFRunLoopRef inRunLoop, CFStringModeRef inRunLoopMode,
                                AudioSessionInterruptionListener inInterruptionListener,
                                void* inClientData);
// Category and route override take a UInt32 (size 4).
OSStatus AudioSessionSetProperty(AudioSessionPropertyID inID, UInt32 inDataSize, const void* inData);
// The route is a CFStringRef (*ioDataSize = sizeof(CFStringRef)); the category a UInt32.
OSStatus AudioSessionGetProperty(AudioSessionPropertyID inID, UInt32* ioDataSize, void* outData);
OSStatus AudioSessionAddPropertyListener(AudioSessionPropertyID inID,
                                         AudioSessionPropertyListener inProc, void* inClientData);
OSStatus AudioSessionSetActive(bool active);
