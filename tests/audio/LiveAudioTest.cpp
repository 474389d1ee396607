// The live back end for real: a private PulseAudio server with two null sinks, a virtual
// microphone fed from the sample and a virtual speaker recorded to a file, and the quibblers
// program between them.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "ChildProcess.h"
#include "PrivateSoundServer.h"
#include "StoreQuery.h"
#include "TempDir.h"
#include "ToneAnalysis.h"
#include "WavFile.h"

TEST(LiveAudio, AnswersThroughAPrivatePulseAudioServerAnOctaveUp) {
  if (!PrivateSoundServer::available()) GTEST_SKIP() << "PulseAudio and its tools are not installed";
  TempDir dir;
  PrivateSoundServer sound(dir.file("sound"));
  std::string serverLog;
  ASSERT_TRUE(sound.ready(serverLog)) << serverLog;
  const auto& env = sound.environment();

  // The first two sentences of the sample.
  const auto sample = platform::readMonoWav16(std::string(QB_SOURCE_DIR) + "/resources/samples/hello-quibblers.wav");
  ASSERT_TRUE(sample.ok()) << sample.error;
  std::vector<std::int16_t> excerpt(sample.samples.begin(), sample.samples.begin() + 44100 * 21 / 2);
  ASSERT_EQ(platform::writeMonoWav16(dir.file("excerpt.wav"), excerpt), "");

  ChildProcess recorder({"parecord", "-d", "spk.monitor", "--rate=44100", "--channels=1",
                         "--format=s16le", "--file-format=wav", dir.file("speaker.wav")},
                        env, dir.file("parecord.log"));
  ChildProcess app({QB_QUIBBLERS, "--no-window", "--input-device", "Monitor of VirtualMic", "--output-device",
                    "VirtualSpeaker"},
                   env, dir.file("quibblers.log"));
  ASSERT_TRUE(waitUntil([&] { return readTextFile(dir.file("quibblers.log")).find("listening on") != std::string::npos; }, 10.0))
      << readTextFile(dir.file("quibblers.log"));
  sleepSeconds(2.5);  // PulseAudio streams deliver their first blocks after 1.5-2 s

  ChildProcess player({"paplay", "-d", "mic", dir.file("excerpt.wav")}, env, dir.file("paplay.log"));
  ASSERT_EQ(player.wait(40.0), 0) << readTextFile(dir.file("paplay.log"));
  sleepSeconds(3.0);  // the answer to the last sentence

  EXPECT_EQ(app.stop(SIGINT, 10.0), 0) << readTextFile(dir.file("quibblers.log"));
  EXPECT_NE(readTextFile(dir.file("quibblers.log")).find("stopped"), std::string::npos);
  recorder.stop(SIGINT, 10.0);

  const auto speaker = platform::readMonoWav16(dir.file("speaker.wav"));
  ASSERT_TRUE(speaker.ok()) << speaker.error;
  const auto spoken = tone::findSegments(excerpt, 400, 0.35);
  const auto answered = tone::findSegments(speaker.samples, 400, 0.35);
  ASSERT_EQ(spoken.size(), 2u);
  ASSERT_EQ(answered.size(), spoken.size()) << "answers heard on the virtual speaker";
  for (std::size_t i = 0; i < spoken.size(); ++i) {
    const double ratio = tone::medianPitchRatio(excerpt, spoken[i].begin, speaker.samples,
                                                answered[i].begin, answered[i].end - answered[i].begin);
    std::printf("answer %zu: %.3f s for %.3f s spoken, pitch ratio %.4f\n", i, answered[i].seconds(),
                spoken[i].seconds(), ratio);
    EXPECT_NEAR(ratio, 2.0, 0.04) << "answer " << i;
    EXPECT_NEAR(answered[i].seconds() / spoken[i].seconds(), 1.0, 0.05) << "answer " << i;
  }
}

// The sound server going away is an interruption: the app says so, waits, and answers again
// once the server is back.
TEST(LiveAudio, ASoundServerThatGoesAwayAndComesBackInterruptsAndAnswersAgain) {
  if (!PrivateSoundServer::available()) GTEST_SKIP() << "PulseAudio and its tools are not installed";
  TempDir dir;
  auto sound = std::make_unique<PrivateSoundServer>(dir.file("sound"));
  std::string serverLog;
  ASSERT_TRUE(sound->ready(serverLog)) << serverLog;
  const auto env = sound->environment();
  const std::string log = dir.file("quibblers.log");
  auto logHas = [&](const char* text) { return readTextFile(log).find(text) != std::string::npos; };

  ChildProcess app({QB_QUIBBLERS, "--no-window", "--input-device", "Monitor of VirtualMic", "--output-device",
                    "VirtualSpeaker"},
                   env, log);
  ASSERT_TRUE(waitUntil([&] { return logHas("listening on"); }, 10.0)) << readTextFile(log);
  sleepSeconds(2.5);

  sound.reset();  // the server stops
  ASSERT_TRUE(waitUntil([&] { return logHas("audio interrupted"); }, 15.0)) << readTextFile(log);
  std::filesystem::remove(env.at("XDG_RUNTIME_DIR") + "/pulse/native");
  sound = std::make_unique<PrivateSoundServer>(dir.file("sound"));
  ASSERT_TRUE(sound->ready(serverLog)) << serverLog;
  ASSERT_TRUE(waitUntil([&] { return logHas("audio is back"); }, 20.0)) << readTextFile(log);
  sleepSeconds(2.5);

  const auto sample = platform::readMonoWav16(std::string(QB_SOURCE_DIR) + "/resources/samples/hello-quibblers.wav");
  ASSERT_TRUE(sample.ok()) << sample.error;
  std::vector<std::int16_t> first(sample.samples.begin(), sample.samples.begin() + 44100 * 5);
  ASSERT_EQ(platform::writeMonoWav16(dir.file("first.wav"), first), "");
  ChildProcess recorder({"parecord", "-d", "spk.monitor", "--rate=44100", "--channels=1",
                         "--format=s16le", "--file-format=wav", dir.file("speaker.wav")},
                        env, dir.file("parecord.log"));
  ChildProcess player({"paplay", "-d", "mic", dir.file("first.wav")}, env, dir.file("paplay.log"));
  ASSERT_EQ(player.wait(30.0), 0) << readTextFile(dir.file("paplay.log"));
  sleepSeconds(3.0);
  EXPECT_EQ(app.stop(SIGINT, 10.0), 0) << readTextFile(log);
  recorder.stop(SIGINT, 10.0);

  const auto speaker = platform::readMonoWav16(dir.file("speaker.wav"));
  ASSERT_TRUE(speaker.ok()) << speaker.error;
  const auto spoken = tone::findSegments(first, 400, 0.35);
  const auto answered = tone::findSegments(speaker.samples, 400, 0.35);
  ASSERT_EQ(spoken.size(), 1u);
  ASSERT_EQ(answered.size(), 1u) << "an answer after the interruption\n" << readTextFile(log);
  const double ratio = tone::medianPitchRatio(first, spoken[0].begin, speaker.samples, answered[0].begin,
                                              answered[0].end - answered[0].begin);
  EXPECT_NEAR(ratio, 2.0, 0.04);
}

// A terminal run keeps a usage session like the window and the headless runs: opened at start,
// ended at Ctrl-C, and kept in the store while no server takes it.
TEST(LiveAudio, TerminalRunKeepsAnEndedUsageSession) {
  if (!PrivateSoundServer::available()) GTEST_SKIP() << "PulseAudio and its tools are not installed";
  TempDir dir;
  PrivateSoundServer sound(dir.file("sound"));
  std::string serverLog;
  ASSERT_TRUE(sound.ready(serverLog)) << serverLog;
  auto env = sound.environment();
  env["XDG_DATA_HOME"] = dir.file("data");
  const std::string log = dir.file("quibblers.log");
  ChildProcess app({QB_QUIBBLERS, "--no-window", "--input-device", "Monitor of VirtualMic", "--output-device",
                    "VirtualSpeaker", "--collection-server", "127.0.0.1:9"},
                   env, log);
  ASSERT_TRUE(waitUntil([&] { return readTextFile(log).find("listening on") != std::string::npos; }, 10.0))
      << readTextFile(log);
  EXPECT_EQ(app.stop(SIGINT, 10.0), 0) << readTextFile(log);

  const std::string store = dir.file("data") + "/quibblers/tallyhive/9d4c2b7e81f03a56c7e2d19b40f8a635.sql";
  const auto ended = queryInt(store, "SELECT COUNT(*) FROM beacon WHERE time_stopped IS NOT NULL");
  ASSERT_TRUE(ended) << store;
  EXPECT_EQ(*ended, 1);
}
