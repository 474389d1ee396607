#pragma once
// Audio file reader stand-in for 16-bit mono 44100 Hz PCM clips: one packet is one sample.
// Opening validates and loads the whole clip, so a read is a bounded copy that never touches
// the disk or the heap and may run on the audio thread.
#include <cstdint>

#include "platform/AudioTypes.h"
#include "platform/CoreFoundation.h"

using AudioFilePermissions = std::int8_t;
using AudioFileTypeID = UInt32;
struct AudioStreamPacketDescription;

constexpr AudioFilePermissions kAudioFileReadPermission = 1;

constexpr OSStatus kAudioFileUnspecifiedError = 0x7768743f;      // 'wht?'
constexpr OSStatus kAudioFileUnsupportedDataFormatError = 0x666d743f;  // 'fmt?'
constexpr OSStatus kAudioFileInvalidFileError = 0x6474613f;      // 'dta?'
constexpr OSStatus kAudioFileNotOpenError = -38;
constexpr OSStatus kAudioFileEndOfFileError = -39;
constexpr OSStatus kAudioFilePermissionsError = 0x70726d3f;      // 'prm?'

// Opens `inFileRef` for reading. A file that is missing, unreadable, truncated, or not 16-bit
// mono 44100 Hz PCM fails with one log line naming the file and the reason; *outAudioFile is then
// null. The file type hint is not needed.
OSStatus AudioFileOpenURL(const CFURLRef& inFileRef, AudioFilePermissions inPermissions,
                          AudioFileTypeID inFileTypeHint, AudioFileID* outAudioFile);

// Copies up to *ioNumPackets samples from packet `inStartingPacket` into `outBuffer`; sets
// *outNumBytes to the bytes copied (2 per sample; 0 at or past the end, or for a null file) and
// *ioNumPackets to the samples copied. Returns kAudioFileEndOfFileError when nothing was left.
OSStatus AudioFileReadPackets(AudioFileID inAudioFile, bool inUseCache, UInt32* outNumBytes,
                              AudioStreamPacketDescription* outPacketDescriptions,
                              std::int64_t inStartingPacket, UInt32* ioNumPackets, void* outBuffer);

OSStatus AudioFileClose(AudioFileID inAudioFile);

// Samples in an open clip (tests and tools).
std::int64_t AudioFilePacketCount(AudioFileID inAudioFile);
