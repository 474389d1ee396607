// The quibblers program end to end on the offline device: the bundled sample in, the answers out.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "TempDir.h"
#include "ToneAnalysis.h"
#include "WavFile.h"

namespace {

struct ProgramRun {
  int status;
  std::string output;  // stdout and stderr
};

// `environment`: extra VAR=VALUE words before the command.
ProgramRun quibblers(const std::string& arguments, const std::string& environment = "") {
  // Analytics of these runs stay in a folder of their own, and nothing listens at their server.
  static TempDir data;
  const std::string command = environment + " XDG_DATA_HOME='" + data.path().string() + "' " + std::string(QB_QUIBBLERS) +
                              " --collection-server 127.0.0.1:9 " + arguments + " 2>&1";
  ProgramRun run{-1, {}};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer{};
  while (std::fgets(buffer.data(), buffer.size(), pipe)) run.output += buffer.data();
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

const std::string kSample = std::string(QB_SOURCE_DIR) + "/resources/samples/hello-quibblers.wav";

}  // namespace

// Where the engine's recording of an utterance starts: at the second of two consecutive
// 1024-sample blocks whose level reaches 315 (the first one only arms it).
std::size_t recordingStart(const std::vector<std::int16_t>& samples, std::size_t from) {
  auto level = [&](std::size_t block) {
    long sum = 0;
    for (std::size_t i = block * 1024; i < (block + 1) * 1024 && i < samples.size(); ++i) {
      sum += std::abs(static_cast<int>(samples[i]));
    }
    return sum / 1024;
  };
  for (std::size_t block = from / 1024; (block + 2) * 1024 <= samples.size(); ++block) {
    if (level(block) >= 315 && level(block + 1) >= 315) return (block + 1) * 1024;
  }
  return samples.size();
}

TEST(QuibblersProgram, AnswersEveryUtteranceOfTheSampleAnOctaveUp) {
  TempDir dir;
  const ProgramRun run = quibblers("--mic " + kSample + " --speaker " + dir.file("out.wav"));
  ASSERT_EQ(run.status, 0) << run.output;
  const auto in = platform::readMonoWav16(kSample);
  const auto out = platform::readMonoWav16(dir.file("out.wav"));
  ASSERT_TRUE(in.ok() && out.ok()) << in.error << out.error;
  EXPECT_GE(out.samples.size(), in.samples.size());
  EXPECT_LE(out.samples.size(), in.samples.size() + 4 * 44100u);

  const auto spoken = tone::findSegments(in.samples, 400, 0.35);
  const auto answered = tone::findSegments(out.samples, 400, 0.35);
  ASSERT_EQ(spoken.size(), 4u);
  ASSERT_EQ(answered.size(), spoken.size());
  for (std::size_t i = 0; i < spoken.size(); ++i) {
    // The answer is what was recorded: from the recording's first block to the end of speech.
    const std::size_t recorded = recordingStart(in.samples, spoken[i].begin - 2048);
    const double heard = static_cast<double>(spoken[i].end - std::max(recorded, spoken[i].begin)) / 44100.0;
    const double ratio = tone::medianPitchRatio(in.samples, recorded, out.samples,
                                                answered[i].begin, answered[i].end - answered[i].begin);
    const double wait = static_cast<double>(answered[i].begin - spoken[i].end) / 44100.0;
    std::printf("utterance %zu: %.3f s recorded -> %.3f s answered after %.3f s; pitch ratio %.4f\n", i,
                heard, answered[i].seconds(), wait, ratio);
    EXPECT_NEAR(ratio, 2.0, 0.04) << "utterance " << i;
    EXPECT_NEAR(answered[i].seconds() / heard, 1.0, 0.02) << "utterance " << i;
    // The answer starts once twelve quiet blocks have ended the recording.
    EXPECT_GT(wait, 11 * 1024 / 44100.0) << "utterance " << i;
    EXPECT_LT(wait, 14 * 1024 / 44100.0) << "utterance " << i;
  }
  // Silence elsewhere: before each answer, and after each answer's recorded quiet tail.
  const std::size_t tail = 18000;
  const std::size_t lead = 2205;
  EXPECT_EQ(tone::peak(out.samples, 0, answered[0].begin - lead), 0);
  for (std::size_t i = 1; i < answered.size(); ++i) {
    EXPECT_EQ(tone::peak(out.samples, answered[i - 1].end + tail, answered[i].begin - lead), 0)
        << "between answers " << i - 1 << " and " << i;
  }
  EXPECT_EQ(tone::peak(out.samples, answered.back().end + tail, out.samples.size()), 0);
}

TEST(QuibblersProgram, HelpAndVersionSucceedAndBadInputFailsWithAClearMessage) {
  const ProgramRun help = quibblers("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--mic", "--speaker", "--greeting", "--list-devices", "--input-device",
                             "--output-device", "--video", "--frames", "--collection-server", "--character",
                             "highest voice", "--no-analytics", "DO_NOT_TRACK"}) {
    EXPECT_NE(help.output.find(option), std::string::npos) << option;
  }
  const ProgramRun version = quibblers("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output.rfind("quibblers ", 0), 0u) << version.output;

  const ProgramRun unknown = quibblers("--shout");
  EXPECT_NE(unknown.status, 0);
  EXPECT_NE(unknown.output.find("--shout"), std::string::npos) << unknown.output;

  const ProgramRun lonelySpeaker = quibblers("--speaker out.wav");
  EXPECT_NE(lonelySpeaker.status, 0);
  EXPECT_NE(lonelySpeaker.output.find("--mic"), std::string::npos) << lonelySpeaker.output;

  const ProgramRun missing = quibblers("--mic /nonexistent/voice.wav");
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.output.find("/nonexistent/voice.wav"), std::string::npos) << missing.output;

  const ProgramRun cycle = quibblers("--mic " + kSample + " --frames-per-cycle 4096");
  EXPECT_NE(cycle.status, 0);
  EXPECT_NE(cycle.output.find("--frames-per-cycle"), std::string::npos) << cycle.output;
}

TEST(QuibblersProgram, AnswersRecordingsOfOtherFormatsAndRatesInTheChosenVoice) {
  TempDir dir;
  // One second of a 200 Hz voice between silences, made into what phones and recorders write.
  std::vector<std::int16_t> voice(44100 * 3 / 10, 0);
  const auto saw = tone::sawtooth(200, 1.0, 8000);
  voice.insert(voice.end(), saw.begin(), saw.end());
  voice.resize(voice.size() + 44100 * 6 / 5, 0);
  ASSERT_EQ(platform::writeMonoWav16(dir.file("voice.wav"), voice), "");
  const std::string make = "cd '" + dir.path().string() + "' && sox voice.wav -r 48000 -c 2 stereo48k.wav && " +
                           "sox voice.wav -r 22050 voice22k.flac && ffmpeg -v error -i stereo48k.wav voice48k.mp3 && " +
                           "ffmpeg -v error -i stereo48k.wav -c:a aac voice48k.m4a";
  ASSERT_EQ(std::system(make.c_str()), 0);

  struct Case {
    const char* file;
    const char* options;
    double pitchRatio;
    const char* says;
  };
  for (const Case c : {Case{"voice48k.mp3", "", 2.0, "2 channels, 48000 Hz"},
                       Case{"voice22k.flac", "", 2.0, "1 channel, 22050 Hz"},
                       Case{"voice48k.mp3", "--character 2", 2.5, "48000 Hz"},
                       Case{"voice48k.m4a", "", 2.0, "ffmpeg"}}) {
    const ProgramRun run = quibblers("--mic " + dir.file(c.file) + " --speaker " + dir.file("out.wav") + " " + c.options);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("converting"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    const auto out = platform::readMonoWav16(dir.file("out.wav"));
    ASSERT_TRUE(out.ok()) << out.error;
    const auto answers = tone::findSegments(out.samples, 400, 0.35);
    ASSERT_EQ(answers.size(), 1u) << c.file << " " << c.options;
    EXPECT_NEAR(answers[0].seconds(), 1.0, 0.1) << c.file << " " << c.options;
    EXPECT_NEAR(tone::medianPitch(out.samples, answers[0].begin, answers[0].end) / 200, c.pitchRatio, 0.05)
        << c.file << " " << c.options;
  }
}

TEST(QuibblersProgram, AnUnreadableRecordingGetsOneErrorLineAndNoOutput) {
  TempDir dir;
  std::mt19937 random(16);
  std::vector<char> noise(65536);
  for (char& byte : noise) byte = static_cast<char>(random());
  std::FILE* file = std::fopen(dir.file("noise.mp3").c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(noise.data(), 1, noise.size(), file);
  std::fclose(file);
  std::fclose(std::fopen(dir.file("empty.wav").c_str(), "wb"));

  for (const char* name : {"noise.mp3", "empty.wav"}) {
    const ProgramRun run = quibblers("--mic " + dir.file(name) + " --speaker " + dir.file("out.wav"));
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
    EXPECT_NE(run.output.find(dir.file(name)), std::string::npos) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.wav"))) << "nothing is written";
  }
}

// The window and the terminal run share one meaning for "no sound device": status 3, which
// scripts/run takes as its cue to answer the bundled sample.
TEST(QuibblersProgram, EveryLiveHostReportsAMissingSoundDeviceWithStatus3) {
  const struct {
    const char* host;
    const char* environment;
    const char* arguments;
  } cases[] = {
      {"window", "DISPLAY=:308", "--input-device no-such-device-anywhere"},
      {"terminal", "", "--no-window --input-device no-such-device-anywhere"},
  };
  for (const auto& c : cases) {
    const ProgramRun run = quibblers(c.arguments, c.environment);
    EXPECT_EQ(run.status, 3) << c.host << ": " << run.output;
    EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << c.host << ": " << run.output;
    EXPECT_NE(run.output.find("--mic FILE.wav"), std::string::npos) << c.host << ": " << run.output;
  }
}

// With no sound server to reach and no device anywhere, listing finds nothing: that is an
// answer, not a failure.
TEST(QuibblersProgram, ListingDevicesOnAMachineWithoutAnyIsNotAFailure) {
  TempDir dir;
  const ProgramRun run = quibblers("--list-devices", "PULSE_SERVER=unix:" + dir.file("none") +
                                                         " JACK_DEFAULT_SERVER=qb-none ALSA_CONFIG_PATH=" +
                                                         dir.file("none"));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output.rfind("no sound devices found (", 0), 0u) << run.output;
  EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
}
