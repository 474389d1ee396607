// --mic recordings: the engine's own format read sample for sample (from a file or a pipe),
// others converted to mono 44100 Hz with their pitch and level kept, and a read that a signal
// interrupts ending the recording instead of waiting on.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sndfile.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>

#include "TempDir.h"
#include "ToneAnalysis.h"
#include "WavFile.h"
#include "platform/RecordingSource.h"

namespace {

struct ReadAll {
  std::vector<std::int16_t> samples;
  std::optional<std::uint64_t> length;
  std::string error;  // from opening or reading
  std::string note;
};

ReadAll readAll(const std::string& path) {
  ReadAll r;
  auto opened = platform::openRecording(path, r.note);
  if (!opened) {
    r.error = opened.message();
    return r;
  }
  auto& source = *opened;
  r.length = source->length();
  std::int16_t block[1000];
  while (const std::size_t n = source->read(block, 1000)) r.samples.insert(r.samples.end(), block, block + n);
  r.error = source->error();
  return r;
}

// A sine of `hz` at half scale, the same in every channel.
void writeSine(const std::string& path, int format, int channels, int rate, double hz, double seconds) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  const auto frames = static_cast<std::size_t>(seconds * rate);
  std::vector<float> samples(frames * static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      samples[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
          static_cast<float>(0.5 * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate));
    }
  }
  sf_writef_float(file, samples.data(), static_cast<sf_count_t>(frames));
  sf_close(file);
}

void onSignal(int) {}

std::string fileBytes(const std::string& path) {
  std::string bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, f)) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

}  // namespace

TEST(RecordingReader, TheEngineFormatReadsSampleForSampleFromAFileOrAPipe) {
  TempDir dir;
  const std::string sample = std::string(QB_SOURCE_DIR) + "/resources/samples/hello-quibblers.wav";
  const auto expected = platform::readMonoWav16(sample);
  ASSERT_TRUE(expected.ok()) << expected.error;

  const ReadAll file = readAll(sample);
  EXPECT_EQ(file.error, "");
  EXPECT_EQ(file.note, "") << "nothing to convert";
  EXPECT_EQ(file.length, expected.samples.size());
  EXPECT_TRUE(file.samples == expected.samples);

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::thread writer([&] {
    const std::string bytes = fileBytes(sample);
    for (std::size_t at = 0; at < bytes.size();) {
      const ssize_t n = write(fds[1], bytes.data() + at, bytes.size() - at);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    close(fds[1]);
  });
  const ReadAll piped = readAll("/dev/fd/" + std::to_string(fds[0]));
  writer.join();
  close(fds[0]);
  EXPECT_EQ(piped.error, "");
  EXPECT_EQ(piped.length, std::nullopt) << "a pipe's length is not known ahead";
  EXPECT_TRUE(piped.samples == expected.samples);
}

TEST(RecordingReader, OtherFormatsComeOutMonoAt44100WithTheirPitchAndLevelKept) {
  TempDir dir;
  struct Case {
    const char* name;
    int format, channels, rate;
  };
  for (const Case c : {Case{"stereo48k.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 48000},
                       Case{"mono22k.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 1, 22050},
                       Case{"six44k.wav", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 6, 44100},
                       Case{"mono8k.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 1, 8000}}) {
    writeSine(dir.file(c.name), c.format, c.channels, c.rate, 441, 1.0);
    const ReadAll r = readAll(dir.file(c.name));
    ASSERT_EQ(r.error, "") << c.name;
    EXPECT_NE(r.note.find(std::to_string(c.rate) + " Hz"), std::string::npos) << r.note;
    EXPECT_EQ(r.length, r.samples.size()) << c.name << ": the promised length is what is read";
    EXPECT_NEAR(static_cast<double>(r.samples.size()), 44100.0, 2.0) << c.name;
    EXPECT_NEAR(tone::medianPitch(r.samples, 4410, 39690), 441.0, 2.0) << c.name;
    EXPECT_NEAR(tone::peak(r.samples, 4410, 39690), 16384, 600) << c.name;
  }
}

TEST(RecordingReader, AReadInterruptedByASignalEndsTheRecordingWithAnError) {
  // Signals interrupt blocking calls (no SA_RESTART), as the app's termination handling does.
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = onSignal;
  sigaction(SIGUSR1, &action, &previous);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  // A header and a little sound, then a writer that never sends more nor closes.
  const std::vector<std::int16_t> start(2000, 100);
  TempDir dir;
  ASSERT_EQ(platform::writeMonoWav16(dir.file("start.wav"), start), "");
  const std::string bytes = fileBytes(dir.file("start.wav"));
  ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));

  std::atomic<bool> done{false};
  const pthread_t reader = pthread_self();
  std::thread interrupter([&] {
    for (int i = 0; !done; ++i) {
      pthread_kill(reader, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      // A reader that retries never returns; the end of the pipe frees it, without the error.
      if (i == 250) {
        close(fds[1]);
        fds[1] = -1;
      }
    }
  });
  const ReadAll r = readAll("/dev/fd/" + std::to_string(fds[0]));
  done = true;
  interrupter.join();
  sigaction(SIGUSR1, &previous, nullptr);
  close(fds[0]);
  if (fds[1] >= 0) close(fds[1]);
  EXPECT_EQ(r.samples.size(), start.size()) << "what arrived was read";
  EXPECT_NE(r.error.find("interrupted"), std::string::npos) << r.error;
}
