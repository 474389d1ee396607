// The quibblers program answering a recording headless, end to end: the video, its frames, its
// sound track and the analytics the run leaves behind.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "ChildProcess.h"
#include "TempDir.h"
#include "ToneAnalysis.h"
#include "WavFile.h"
#include "platform/PngFrames.h"
#include "platform/VideoWriter.h"

namespace {

const std::string kSample = std::string(QB_SOURCE_DIR) + "/resources/samples/hello-quibblers.wav";
const std::string kStore = "quibblers/tallyhive/9d4c2b7e81f03a56c7e2d19b40f8a635.sql";

struct FrameRow {
  int tick, mode, mouth, character;
  double time;
};

std::vector<FrameRow> readFrameLog(const std::string& path) {
  std::vector<FrameRow> rows;
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    FrameRow r{};
    if (std::sscanf(line.c_str(), "%d,%lf,%d,%d,%d", &r.tick, &r.time, &r.mode, &r.mouth, &r.character) == 5) {
      rows.push_back(r);
    }
  }
  return rows;
}

// Rows of the store's table, each as "time_started|time_stopped".
std::vector<std::string> storedSessions(const std::string& file) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return {"cannot open " + file};
  }
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "SELECT ifnull(time_started,''), ifnull(time_stopped,'') FROM beacon", -1,
                     &statement, nullptr);
  while (statement && sqlite3_step(statement) == SQLITE_ROW) {
    rows.push_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))) + "|" +
                   reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)));
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

// Pixels that differ between two frames inside the face (where the mouth is).
int mouthDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  int changed = 0;
  for (int y = 560; y < 800; ++y) {
    for (int x = 160; x < 480; ++x) {
      const std::size_t i = (static_cast<std::size_t>(y) * 640 + x) * 4;
      if (std::abs(a[i] - b[i]) + std::abs(a[i + 1] - b[i + 1]) + std::abs(a[i + 2] - b[i + 2]) > 30) ++changed;
    }
  }
  return changed;
}

class HeadlessAnswer : public ::testing::Test {
 protected:
  void SetUp() override {
    // Two sentences of the sample keep the run short.
    const auto sample = platform::readMonoWav16(kSample);
    ASSERT_TRUE(sample.ok()) << sample.error;
    mic.assign(sample.samples.begin(), sample.samples.begin() + 44100 * 21 / 2);
    ASSERT_EQ(platform::writeMonoWav16(dir.file("mic.wav"), mic), "");
  }

  int run(const std::vector<std::string>& extra, const std::string& server,
          std::map<std::string, std::string> env = {}) {
    std::vector<std::string> args = {QB_QUIBBLERS, "--mic", dir.file("mic.wav"), "--collection-server", server};
    args.insert(args.end(), extra.begin(), extra.end());
    env["XDG_DATA_HOME"] = dir.file("data");
    ChildProcess app(args, env, dir.file("quibblers.log"));
    return app.wait(120).value_or(-1);
  }

  TempDir dir;
  std::vector<std::int16_t> mic;
};

}  // namespace

TEST_F(HeadlessAnswer, TheVideoShowsTheCharacterAnsweringEachUtteranceAnOctaveUp) {
  const int status = run({"--speaker", dir.file("answer.wav"), "--video", dir.file("answer.mp4"),
                          "--frames", dir.file("frames"), "--frame-log", dir.file("frames.csv")},
                         "127.0.0.1:9");
  ASSERT_EQ(status, 0) << readTextFile(dir.file("quibblers.log"));

  // Length and rate: one frame per 1/24 s of the audio that ran.
  const auto speaker = platform::readMonoWav16(dir.file("answer.wav"));
  ASSERT_TRUE(speaker.ok()) << speaker.error;
  const double seconds = speaker.samples.size() / 44100.0;
  const auto rows = readFrameLog(dir.file("frames.csv"));
  EXPECT_NEAR(rows.size() / 24.0, seconds, 1.0 / 24 + 1e-9);
  platform::runProgram({"ffprobe", "-v", "error", "-show_entries",
                        "stream=codec_type,r_frame_rate,nb_frames:format=duration", "-of",
                        "default=noprint_wrappers=1", dir.file("answer.mp4")},
                       dir.file("probe.txt"));
  const std::string probe = readTextFile(dir.file("probe.txt"));
  EXPECT_NE(probe.find("r_frame_rate=24/1"), std::string::npos) << probe;
  EXPECT_NE(probe.find("nb_frames=" + std::to_string(rows.size())), std::string::npos) << probe;
  EXPECT_NE(probe.find("codec_type=audio"), std::string::npos) << probe;

  // Listening and recording show the resting frames; answering shows the mouth frames.
  int talking = 0;
  for (const auto& r : rows) {
    if (r.mode == 0 || r.mode == 1) {
      EXPECT_LE(r.mouth, 1) << "tick " << r.tick;
    }
    if (r.mode == 2) {
      EXPECT_GE(r.mouth, 2) << "tick " << r.tick;
      ++talking;
    }
  }
  EXPECT_GT(talking, 24) << "about two seconds of answers";
  // The pictures agree with the log: a wide-open mouth differs from the closed one, and two
  // ticks with the same frame and a still camera are identical.
  auto frameOf = [&](auto predicate) {
    auto it = std::find_if(rows.begin() + 10, rows.end(), predicate);
    EXPECT_NE(it, rows.end());
    std::vector<std::uint8_t> pixels;
    int w = 0, h = 0;
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06d.png", it == rows.end() ? 0 : it->tick);
    const platform::Status read = platform::readPng(dir.file("frames") + "/" + name, pixels, w, h);
    EXPECT_TRUE(read) << read.message();
    return pixels;
  };
  const auto closed = frameOf([](const FrameRow& r) { return r.mode == 0 && r.mouth == 0; });
  const auto closedAgain = frameOf([](const FrameRow& r) { return r.mode == 0 && r.mouth == 0 && r.tick > 100; });
  const auto open = frameOf([](const FrameRow& r) { return r.mouth == 5; });
  EXPECT_EQ(mouthDifference(closed, closedAgain), 0);
  EXPECT_GT(mouthDifference(closed, open), 500);

  // The sound track: each utterance, then its answer an octave up.
  platform::runProgram({"ffmpeg", "-v", "error", "-y", "-i", dir.file("answer.mp4"), "-ac", "1", "-ar",
                        "44100", "-c:a", "pcm_s16le", dir.file("track.wav")});
  const auto track = platform::readMonoWav16(dir.file("track.wav"));
  ASSERT_TRUE(track.ok()) << track.error;
  const auto utterances = tone::findSegments(mic, 400, 0.35);
  const auto answers = tone::findSegments(speaker.samples, 400, 0.35);
  ASSERT_EQ(utterances.size(), 2u);
  ASSERT_EQ(answers.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const double heard = tone::medianPitch(track.samples, utterances[i].begin, utterances[i].end);
    const double answered = tone::medianPitch(track.samples, answers[i].begin, answers[i].end);
    ASSERT_GT(heard, 0) << "utterance " << i << " is in the track";
    EXPECT_NEAR(answered / heard, 2.0, 0.1) << "answer " << i;
    EXPECT_GT(answers[i].begin, utterances[i].end) << "the answer follows the utterance";
  }

  // One ended session stays in the store: nothing could take it.
  const auto sessions = storedSessions(dir.file("data") + "/" + kStore);
  ASSERT_EQ(sessions.size(), 1u);
  EXPECT_EQ(sessions[0].find('|'), sessions[0].size() / 2) << sessions[0];
  EXPECT_GT(sessions[0].size(), 2u) << "start and stop times set: " << sessions[0];
}

TEST_F(HeadlessAnswer, TheNextRunHandsStoredSessionsToTheCollectionServerAndEmptiesTheStore) {
  ASSERT_EQ(run({"--speaker", dir.file("first.wav")}, "127.0.0.1:9"), 0) << readTextFile(dir.file("quibblers.log"));
  ASSERT_EQ(storedSessions(dir.file("data") + "/" + kStore).size(), 1u);

  const std::string address = "127.0.0.1:" + std::to_string(28000 + getpid() % 1000);
  // A slow server: the launch upload is still on its way when the (virtual-time) run is over.
  ChildProcess server({QB_COLLECTION_SERVER_PROGRAM, "--listen", address, "--print-only", "--delay", "1"}, {},
                      dir.file("server.log"));
  for (int i = 0; i < 100 && readTextFile(dir.file("server.log")).find(address) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(run({"--speaker", dir.file("second.wav")}, address), 0) << readTextFile(dir.file("quibblers.log"));
  server.stop(SIGTERM, 5);
  const std::string received = readTextFile(dir.file("server.log"));
  EXPECT_NE(received.find("session 1:"), std::string::npos) << received;
  EXPECT_NE(received.find("session 2:"), std::string::npos) << received;
  EXPECT_TRUE(storedSessions(dir.file("data") + "/" + kStore).empty());
}

TEST_F(HeadlessAnswer, OutputsEndWithinHalfASecondOfTheLastAnswerWhichIsNeverCut) {
  // A second of voice, then silence; or cut off mid-speech by the end of the recording.
  for (const double silenceAfter : {2.0, 0.0}) {
    std::vector<std::int16_t> recording(44100 / 2, 0);
    const auto voice = tone::sawtooth(200, 1.0, 8000);
    recording.insert(recording.end(), voice.begin(), voice.end());
    recording.resize(recording.size() + static_cast<std::size_t>(silenceAfter * 44100), 0);
    ASSERT_EQ(platform::writeMonoWav16(dir.file("mic.wav"), recording), "");
    ASSERT_EQ(run({"--speaker", dir.file("answer.wav"), "--frame-log", dir.file("frames.csv")}, "127.0.0.1:9"), 0)
        << readTextFile(dir.file("quibblers.log"));

    const auto speaker = platform::readMonoWav16(dir.file("answer.wav"));
    ASSERT_TRUE(speaker.ok()) << speaker.error;
    const auto answers = tone::findSegments(speaker.samples, 400, 0.35);
    ASSERT_EQ(answers.size(), 1u) << "silence after " << silenceAfter;
    EXPECT_NEAR(answers[0].seconds(), 1.0, 0.05) << "the whole answer, silence after " << silenceAfter;
    const auto rows = readFrameLog(dir.file("frames.csv"));
    double answerEnd = 0;
    for (const auto& r : rows) {
      if (r.mode == 2) answerEnd = r.time;
    }
    const double recordingEnd = static_cast<double>(recording.size()) / 44100;
    const double end = static_cast<double>(speaker.samples.size()) / 44100;
    EXPECT_GT(end, answerEnd);
    EXPECT_LE(end, std::max(recordingEnd, answerEnd) + 0.5) << "silence after " << silenceAfter;
    EXPECT_NEAR(rows.back().time, end, 1.0 / 24 + 1e-9) << "the pictures end with the sound";
  }
}

TEST_F(HeadlessAnswer, WithAnalyticsOffNothingIsStoredOrSentAndEarlierSessionsStay) {
  // Remembered choices: only their analytics switch reaches a headless answer.
  std::filesystem::create_directories(dir.file("config/quibblers"));
  std::ofstream(dir.file("config/quibblers/quibblers.conf")) << "analytics = off\ncharacter = 3\npitch = 0.25\n";
  ASSERT_EQ(run({"--speaker", dir.file("remembered.wav")}, "127.0.0.1:9", {{"XDG_CONFIG_HOME", dir.file("config")}}), 0)
      << readTextFile(dir.file("quibblers.log"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("data") + "/quibblers")) << "no store is created";

  ASSERT_EQ(run({"--speaker", dir.file("out.wav")}, "127.0.0.1:9"), 0) << readTextFile(dir.file("quibblers.log"));
  ASSERT_EQ(storedSessions(dir.file("data") + "/" + kStore).size(), 1u);
  EXPECT_EQ(readTextFile(dir.file("remembered.wav")), readTextFile(dir.file("out.wav")))
      << "the same recording gets the same answer whatever was remembered";
  // A server that would take the stored session gets nothing from runs with analytics off.
  const std::string address = "127.0.0.1:" + std::to_string(28000 + (getpid() + 500) % 1000);
  ChildProcess server({QB_COLLECTION_SERVER_PROGRAM, "--listen", address, "--print-only"}, {}, dir.file("server.log"));
  for (int i = 0; i < 100 && readTextFile(dir.file("server.log")).find(address) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(run({"--speaker", dir.file("out.wav")}, address, {{"DO_NOT_TRACK", "yes"}}), 0);
  ASSERT_EQ(run({"--speaker", dir.file("out.wav"), "--no-analytics"}, address), 0);
  server.stop(SIGTERM, 5);
  EXPECT_EQ(readTextFile(dir.file("server.log")).find("upload"), std::string::npos) << readTextFile(dir.file("server.log"));
  EXPECT_EQ(storedSessions(dir.file("data") + "/" + kStore).size(), 1u) << "the earlier session waits";
}
