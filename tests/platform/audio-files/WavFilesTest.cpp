// WAV input is accepted only in the engine's format, and refused with a message that names the
// file, the reason and (for a wrong format) how to convert it.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>

#include "TempDir.h"
#include "WavFile.h"
#include "platform/AudioFile.h"
#include "platform/Log.h"

namespace {

void writeWav(const std::string& path, int format, int channels, int rate, sf_count_t frames) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  std::vector<short> samples(static_cast<std::size_t>(frames * channels), 1000);
  sf_writef_short(file, samples.data(), frames);
  sf_close(file);
}

}  // namespace

TEST(WavInput, ReadsTheEngineFormatAndWritesItBackIdentically) {
  TempDir dir;
  std::vector<std::int16_t> samples = {0, 1, -1, 32767, -32768, 1234};
  ASSERT_EQ(platform::writeMonoWav16(dir.file("a.wav"), samples), "");
  const auto read = platform::readMonoWav16(dir.file("a.wav"));
  ASSERT_TRUE(read.ok()) << read.error;
  EXPECT_EQ(read.samples, samples);
}

TEST(WavInput, ReadsTheExtensibleWavLayoutOfTheSameFormat) {
  TempDir dir;
  writeWav(dir.file("extensible.wav"), SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 1, 44100, 1000);
  const auto read = platform::readMonoWav16(dir.file("extensible.wav"));
  ASSERT_TRUE(read.ok()) << read.error;
  EXPECT_EQ(read.samples, std::vector<std::int16_t>(1000, 1000));
}

TEST(WavInput, RefusesOtherFormatsWithAConversionHint) {
  TempDir dir;
  struct Case {
    const char* name;
    int format, channels, rate;
    const char* says;
  };
  for (const Case c : {Case{"stereo.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, "2 channels"},
                       Case{"8bit.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1, 44100, "8-bit"},
                       Case{"48k.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 48000, "48000 Hz"},
                       Case{"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 44100, "float"},
                       Case{"aiff.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, 44100, "non-WAV"}}) {
    writeWav(dir.file(c.name), c.format, c.channels, c.rate, 1000);
    const auto read = platform::readMonoWav16(dir.file(c.name));
    EXPECT_FALSE(read.ok()) << c.name;
    EXPECT_NE(read.error.find(c.name), std::string::npos) << read.error;
    EXPECT_NE(read.error.find(c.says), std::string::npos) << read.error;
    EXPECT_NE(read.error.find("sox"), std::string::npos) << read.error;
    EXPECT_TRUE(read.samples.empty());
  }
}

TEST(WavInput, RefusesTruncatedMissingAndNonAudioFiles) {
  TempDir dir;
  writeWav(dir.file("cut.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 44100);
  std::filesystem::resize_file(dir.file("cut.wav"), 50000);
  const auto cut = platform::readMonoWav16(dir.file("cut.wav"));
  EXPECT_FALSE(cut.ok());
  EXPECT_NE(cut.error.find("truncated"), std::string::npos) << cut.error;

  const auto missing = platform::readMonoWav16(dir.file("nothing.wav"));
  EXPECT_FALSE(missing.ok());
  EXPECT_NE(missing.error.find("nothing.wav"), std::string::npos);

  {
    FILE* text = std::fopen(dir.file("text.wav").c_str(), "w");
    std::fputs("this is not a sound file at all, only words\n", text);
    std::fclose(text);
  }
  const auto text = platform::readMonoWav16(dir.file("text.wav"));
  EXPECT_FALSE(text.ok());
  EXPECT_NE(text.error.find("text.wav"), std::string::npos);
}

TEST(AudioFileReader, ReadsConsecutiveSamplesFromAPacketIndexAndZeroBytesAtTheEnd) {
  TempDir dir;
  std::vector<std::int16_t> samples(2500);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int16_t>(i);
  ASSERT_EQ(platform::writeMonoWav16(dir.file("clip.wav"), samples), "");
  AudioFileID file = nullptr;
  const auto url = CFURLCreateWithFileSystemPath(nullptr, dir.file("clip.wav"), kCFURLPOSIXPathStyle, false);
  ASSERT_EQ(AudioFileOpenURL(url, kAudioFileReadPermission, 0, &file), 0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(AudioFilePacketCount(file), 2500);

  std::int16_t block[1024];
  UInt32 bytes = 0;
  UInt32 packets = 1024;
  EXPECT_EQ(AudioFileReadPackets(file, false, &bytes, nullptr, 2000, &packets, block), 0);
  EXPECT_EQ(bytes, 1000u);
  EXPECT_EQ(packets, 500u);
  EXPECT_EQ(block[0], 2000);
  EXPECT_EQ(block[499], 2499);
  packets = 1024;
  AudioFileReadPackets(file, false, &bytes, nullptr, 2500, &packets, block);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(packets, 0u);
  packets = 10;
  AudioFileReadPackets(file, false, &bytes, nullptr, std::int64_t{1} << 40, &packets, block);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(AudioFileClose(file), 0);

  packets = 10;
  bytes = 77;
  AudioFileReadPackets(nullptr, false, &bytes, nullptr, 0, &packets, block);
  EXPECT_EQ(bytes, 0u) << "a clip that failed to open yields nothing";
}

TEST(AudioFileReader, UnusableClipFailsToOpenWithOneLogLineNamingTheFileAndReason) {
  TempDir dir;
  writeWav(dir.file("stereo.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 100);
  writeWav(dir.file("short.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 44100, 44100);
  std::filesystem::resize_file(dir.file("short.wav"), 1000);
  for (const char* name : {"stereo.wav", "short.wav", "absent.wav"}) {
    platform::LogCapture log;
    AudioFileID file = reinterpret_cast<AudioFileID>(0x1);
    const auto url = CFURLCreateWithFileSystemPath(nullptr, dir.file(name), kCFURLPOSIXPathStyle, false);
    EXPECT_NE(AudioFileOpenURL(url, kAudioFileReadPermission, 0, &file), 0) << name;
    EXPECT_EQ(file, nullptr) << name;
    ASSERT_EQ(log.lines().size(), 1u) << name;
    EXPECT_TRUE(log.contains(name)) << log.lines()[0];
  }
  platform::LogCapture log;
  AudioFileID file = nullptr;
  EXPECT_NE(AudioFileOpenURL(nullptr, kAudioFileReadPermission, 0, &file), 0);
  EXPECT_EQ(log.lines().size(), 1u);
}
