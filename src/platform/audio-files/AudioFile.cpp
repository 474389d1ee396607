// The audio file reader on libsndfile. A clip is validated and loaded whole when opened, so the
// audio thread's reads are plain bounded copies.
#include <algorithm>
#include <cstring>
#include <vector>

#include "WavFile.h"
#include "platform/AudioFile.h"
#include "platform/Log.h"

struct OpaqueAudioFile {
  std::vector<std::int16_t> samples;
};

OSStatus AudioFileOpenURL(const CFURLRef& inFileRef, AudioFilePermissions inPermissions,
                          AudioFileTypeID /*inFileTypeHint*/, AudioFileID* outAudioFile) {
  if (outAudioFile == nullptr) return kAudio_ParamError;
  *outAudioFile = nullptr;
  if (!inFileRef) {
    NSLog("AudioFileOpenURL: no file to open (the resource was not found)");
    return kAudioFileUnspecifiedError;
  }
  if (inPermissions != kAudioFileReadPermission) {
    NSLog("AudioFileOpenURL: '%s': only reading is supported", inFileRef->fileSystemPath.c_str());
    return kAudioFilePermissionsError;
  }
  platform::WavReadResult wav = platform::readMonoWav16(inFileRef->fileSystemPath);
  if (!wav.ok()) {
    NSLog("AudioFileOpenURL: %s", wav.error.c_str());
    return kAudioFileInvalidFileError;
  }
  *outAudioFile = new OpaqueAudioFile{std::move(wav.samples)};
  return 0;
}

OSStatus AudioFileReadPackets(AudioFileID inAudioFile, bool /*inUseCache*/, UInt32* outNumBytes,
                              AudioStreamPacketDescription* /*outPacketDescriptions*/,
                              std::int64_t inStartingPacket, UInt32* ioNumPackets, void* outBuffer) {
  if (outNumBytes) *outNumBytes = 0;
  if (ioNumPackets == nullptr) return kAudio_ParamError;
  const UInt32 wanted = *ioNumPackets;
  *ioNumPackets = 0;
  if (inAudioFile == nullptr) return kAudioFileNotOpenError;
  const auto total = static_cast<std::int64_t>(inAudioFile->samples.size());
  if (inStartingPacket < 0 || inStartingPacket >= total) return kAudioFileEndOfFileError;
  if (wanted == 0) return 0;
  if (outBuffer == nullptr) return kAudio_ParamError;
  const auto count = static_cast<UInt32>(std::min<std::int64_t>(wanted, total - inStartingPacket));
  std::memcpy(outBuffer, inAudioFile->samples.data() + inStartingPacket, count * sizeof(std::int16_t));
  *ioNumPackets = count;
  if (outNumBytes) *outNumBytes = count * sizeof(std::int16_t);
  return 0;
}

OSStatus AudioFileClose(AudioFileID inAudioFile) {
  if (inAudioFile == nullptr) return kAudioFileNotOpenError;
  delete inAudioFile;
  return 0;
}

std::int64_t AudioFilePacketCount(AudioFileID inAudioFile) {
  return inAudioFile ? static_cast<std::int64_t>(inAudioFile->samples.size()) : 0;
}
