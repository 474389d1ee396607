// What a person finds in the window: the hint, the buttons (each doing what its key does), a
// recording of the answer kept in the videos folder, and the choices remembered between runs.
#include <sys/mount.h>

#include <cstring>
#include <regex>

#include "WindowFixture.h"
#include "platform/VideoWriter.h"

namespace {

namespace fs = std::filesystem;

// Frame points of the buttons.
constexpr double kPrevious[] = {24, 184};
constexpr double kNext[] = {296, 184};
constexpr double kMicrophone[] = {208, 28};
constexpr double kRecord[] = {252, 28};
constexpr double kHelp[] = {296, 28};

std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(folder, ec)) {
    if (e.is_regular_file()) names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Pixels of the frame's mouth area (640 × 960 frames) that differ clearly.
int mouthDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  int changed = 0;
  for (int y = 560; y < 800; ++y) {
    for (int x = 160; x < 480; ++x) {
      const std::size_t i = (static_cast<std::size_t>(y) * 640 + x) * 4;
      if (std::abs(a[i] - b[i]) + std::abs(a[i + 1] - b[i + 1]) + std::abs(a[i + 2] - b[i + 2]) > 60) ++changed;
    }
  }
  return changed;
}

class Controls : public SmallScreen {
 protected:
  void remembered(const std::string& text) { std::ofstream(settingsPath()) << text; }

  std::vector<std::uint8_t> shot(const std::string& name, int& w, int& h) {
    std::vector<std::uint8_t> pixels;
    screenshot(name, pixels, w, h);
    return pixels;
  }

  // The mean brightness of frame points [x0, x1) × [y0, y1) in a new screenshot.
  double shotBrightness(const std::string& name, double x0, double y0, double x1, double y1) {
    int w = 0, h = 0;
    const auto pixels = shot(name, w, h);
    return brightness(pixels, w, h, x0, y0, x1, y1);
  }

  // The sentence of the sample the window tests speak.
  std::string sentence() {
    const auto sample = platform::readMonoWav16(std::string(QB_SOURCE_DIR) + "/resources/samples/hello-quibblers.wav");
    EXPECT_TRUE(sample.ok()) << sample.error;
    const std::vector<std::int16_t> first(sample.samples.begin(), sample.samples.begin() + 44100 * 7 / 2);
    EXPECT_EQ(platform::writeMonoWav16(dir.file("sentence.wav"), first), "");
    return dir.file("sentence.wav");
  }
};

}  // namespace

TEST_F(Controls, TheHintFadesAndEachButtonDoesWhatItsKeyDoes) {
  ASSERT_NO_FATAL_FAILURE(launch());
  int w = 0, h = 0;
  const auto withHint = shot("hint", w, h);
  sleepSeconds(9.5);
  const auto later = shot("no-hint", w, h);
  ASSERT_FALSE(withHint.empty());
  ASSERT_FALSE(later.empty());
  EXPECT_LT(brightness(withHint, w, h, 30, 70, 290, 115) + 30, brightness(later, w, h, 30, 70, 290, 115))
      << "the hint's panel shows at first and is gone after 8 s";

  struct Step {
    const char* name;
    const double* button;
    int character;       // then shown
    bool microphoneOff;  // then shown
  };
  const Step steps[] = {
      {"next", kNext, 1, false},
      {"next-again", kNext, 2, false},
      {"previous", kPrevious, 1, false},
      {"microphone-off", kMicrophone, 1, true},
      {"microphone-on", kMicrophone, 1, false},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    ASSERT_NO_FATAL_FAILURE(click(step.button[0], step.button[1]));
    sleepSeconds(1.0);
    EXPECT_EQ(shownCharacter(step.name), step.character);
    EXPECT_EQ(microphoneOffShown(std::string(step.name) + "-badge"), step.microphoneOff);
  }

  // Help: the card dims the window around it; a tap closes it, as the key does.
  const double before = shotBrightness("before-help", 0, 440, 320, 480);
  ASSERT_NO_FATAL_FAILURE(click(kHelp[0], kHelp[1]));
  sleepSeconds(0.8);
  EXPECT_LT(shotBrightness("help", 0, 440, 320, 480) + 40, before);
  ASSERT_NO_FATAL_FAILURE(click(160, 460));
  sleepSeconds(0.8);
  EXPECT_NEAR(shotBrightness("help-closed", 0, 440, 320, 480), before, 5);
  ASSERT_NO_FATAL_FAILURE(key("F1"));
  sleepSeconds(0.8);
  EXPECT_LT(shotBrightness("help-key", 0, 440, 320, 480) + 40, before);
  EXPECT_EQ(quit(), 0) << log();
}

TEST_F(Controls, ARecordingKeepsTheAnswerAnOctaveUpWithoutTheControls) {
  remembered("hint-seen=on\n");
  ASSERT_NO_FATAL_FAILURE(launch());
  const std::string clip = sentence();
  sleepSeconds(1.5);  // PulseAudio streams deliver their first blocks after 1.5-2 s
  ASSERT_NO_FATAL_FAILURE(click(kRecord[0], kRecord[1]));
  sleepSeconds(1.0);
  ChildProcess player({"paplay", "-d", "mic", clip}, env, dir.file("paplay.log"));
  EXPECT_EQ(player.wait(20.0), 0) << readTextFile(dir.file("paplay.log"));
  sleepSeconds(1.0);
  int w = 0, h = 0;
  const auto window = shot("recording", w, h);  // the answer plays, the controls show
  sleepSeconds(3.5);
  ASSERT_NO_FATAL_FAILURE(key("r"));

  std::smatch saved;
  ASSERT_TRUE(waitUntil([&] {
    const std::string text = log();
    return std::regex_search(text, saved, std::regex("saved the recording (.*\\.mp4)\n"));
  }, 20.0)) << log();
  const std::string path = saved[1];
  EXPECT_EQ(fs::path(path).parent_path(), fs::path(videos()) / "Quibblers");
  EXPECT_TRUE(std::regex_match(fs::path(path).filename().string(),
                               std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}\\.[0-9]{2}\\.[0-9]{2}\\.mp4")))
      << path;
  EXPECT_EQ(filesIn(videos()), std::vector<std::string>{fs::path(path).filename().string()})
      << "nothing else left behind";

  // The sound: the sentence, then its answer an octave up.
  ASSERT_EQ(platform::runProgram({"ffmpeg", "-v", "error", "-y", "-i", path, "-ac", "1", "-ar", "44100",
                                  "-c:a", "pcm_s16le", dir.file("track.wav")}), 0);
  const auto track = platform::readMonoWav16(dir.file("track.wav"));
  ASSERT_TRUE(track.ok()) << track.error;
  // The answer follows the sentence within a fraction of a second: the two may read as one
  // stretch of sound. Compare its start with its end.
  const auto parts = tone::findSegments(track.samples, 400, 0.35);
  ASSERT_FALSE(parts.empty());
  const auto spoken = tone::findSegments(platform::readMonoWav16(clip).samples, 400, 0.35);
  ASSERT_EQ(spoken.size(), 1u);
  const std::size_t length = spoken[0].end - spoken[0].begin;
  ASSERT_GT(parts.back().end - parts.front().begin, 2 * length) << "the sentence and its answer";
  EXPECT_NEAR(tone::medianPitchRatio(track.samples, parts.front().begin, track.samples,
                                     parts.back().end - length, length),
              2.0, 0.1);

  // The pictures: the mouth moves while the answer plays, and no button is drawn into them.
  ASSERT_EQ(platform::runProgram({"ffmpeg", "-v", "error", "-y", "-i", path, "-vf", "fps=6",
                                  dir.file("frame%03d.png")}), 0);
  std::vector<std::vector<std::uint8_t>> frames;
  for (int i = 1;; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "frame%03d.png", i);
    std::vector<std::uint8_t> pixels;
    int fw = 0, fh = 0;
    if (!platform::readPng(dir.file(name), pixels, fw, fh)) break;
    ASSERT_EQ(fw, 640);
    ASSERT_EQ(fh, 960);
    frames.push_back(std::move(pixels));
  }
  ASSERT_GT(frames.size(), 24u);
  // The first second is before the sentence: the two resting frames. Speaking opens it wider.
  int resting = 0, widest = 0;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const int d = mouthDifference(frames.front(), frames[i]);
    (i < 5 ? resting : widest) = std::max(i < 5 ? resting : widest, d);
  }
  EXPECT_GT(widest, resting + 500) << "an open mouth in some frame";
  const auto& answering = frames[frames.size() * 2 / 3];
  for (const double* button : {kPrevious, kNext, kMicrophone, kRecord, kHelp}) {
    const double x = button[0], y = button[1];
    EXPECT_GT(brightness(answering, 640, 960, x - 16, y - 20, x + 16, y + 20),
              brightness(window, w, h, x - 16, y - 20, x + 16, y + 20) + 30)
        << "a button at " << x << "," << y << " shows in the window but not in the video";
  }

  // Quitting while recording keeps the take.
  ASSERT_NO_FATAL_FAILURE(key("r"));
  sleepSeconds(2.0);
  EXPECT_EQ(quit(), 0) << log();
  EXPECT_EQ(filesIn(videos()).size(), 2u) << log();
}

TEST_F(Controls, AFullOrReadOnlyFolderOrAMissingEncoderGivesAMessageAndNoFile) {
  enum Trouble { NoEncoder, FullDisk, ReadOnly };
  struct Case {
    const char* name;
    Trouble trouble;
    std::string expected;  // in the message
  };
  const Case cases[] = {
      {"no ffmpeg", NoEncoder, "install the ffmpeg package"},
      {"a full disk", FullDisk, "not saved"},
      {"a read-only folder", ReadOnly, "not a writable folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::create_directories(videos());
    const bool mounted = c.trouble != NoEncoder;
    if (mounted && mount("tmpfs", videos().c_str(), "tmpfs", 0, "size=256k") != 0) {
      GTEST_SKIP() << "cannot mount a small tmpfs: " << std::strerror(errno);
    }
    fs::create_directories(videos() + "/Quibblers");
    std::ofstream(videos() + "/Quibblers/earlier.mp4") << std::string(1000, 'x');
    if (c.trouble == ReadOnly) {
      ASSERT_EQ(mount(nullptr, videos().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
    }
    remembered("hint-seen=on\n");
    if (c.trouble == NoEncoder) {
      fs::create_directories(dir.file("bin"));
      appOnlyEnv["PATH"] = dir.file("bin");
    }
    ASSERT_NO_FATAL_FAILURE(launch());
    const double before = shotBrightness("before-record", 20, 430, 300, 470);
    ASSERT_NO_FATAL_FAILURE(key("r"));
    EXPECT_TRUE(waitUntil([&] { return log().find(c.expected) != std::string::npos; }, 30.0)) << log();
    EXPECT_LT(shotBrightness("message", 20, 430, 300, 470) + 20, before) << "shown on screen";
    EXPECT_EQ(filesIn(videos()), std::vector<std::string>{"earlier.mp4"});
    EXPECT_EQ(readTextFile(videos() + "/Quibblers/earlier.mp4"), std::string(1000, 'x'));
    EXPECT_EQ(quit(), 0) << log();
    appOnlyEnv.clear();
    if (mounted) umount(videos().c_str());
    fs::remove_all(videos());
  }
}

TEST_F(Controls, TwoLaunchesKeepTheCharacterATunedPitchAndTheWindowSize) {
  ASSERT_NO_FATAL_FAILURE(launch());
  ASSERT_NO_FATAL_FAILURE(key("3"));
  ASSERT_NO_FATAL_FAILURE(key("t"));
  ASSERT_NO_FATAL_FAILURE(click(280, 20));  // pitch 2 ^ ((120 + 120) / 160)
  ASSERT_NO_FATAL_FAILURE(key("t"));
  ASSERT_EQ(tool({"xdotool", "windowsize", windowId, "400", "600"}), 0);
  sleepSeconds(2.0);
  ASSERT_EQ(quit(), 0) << log();
  const std::string first = readTextFile(settingsPath());
  for (const char* line : {"character=2\n", "pitch=2.828", "window-width=400\n", "window-height=600\n"}) {
    EXPECT_NE(first.find(line), std::string::npos) << line << " in\n" << first;
  }

  ASSERT_NO_FATAL_FAILURE(launch());
  EXPECT_EQ(shownCharacter("second-launch"), 2);
  const Geometry g = geometry();
  EXPECT_EQ(g.width, 400);
  EXPECT_EQ(g.height, 600);
  ASSERT_EQ(quit(), 0) << log();
  // The engine kept the tuned pitch: at exit it would have written the character's own.
  EXPECT_EQ(readTextFile(settingsPath()), first);
}

TEST_F(Controls, ACorruptSettingsFileGivesDefaultsAndAWarningAndSurvivesUntilAChange) {
  const std::string corrupt = "[quibblers\ncharacter=2\n";
  remembered(corrupt);
  ASSERT_NO_FATAL_FAILURE(launch());
  EXPECT_EQ(shownCharacter("defaults"), 0);
  ASSERT_EQ(quit(), 0) << log();
  const std::string text = log();
  const auto warning = text.find("ignoring the settings in " + settingsPath());
  EXPECT_NE(warning, std::string::npos) << text;
  EXPECT_EQ(text.find("ignoring", warning + 1), std::string::npos) << "one warning: " << text;
  EXPECT_EQ(readTextFile(settingsPath()), corrupt) << "kept while nothing changed";

  ASSERT_NO_FATAL_FAILURE(launch());
  ASSERT_NO_FATAL_FAILURE(key("Right"));
  sleepSeconds(1.5);
  ASSERT_EQ(quit(), 0) << log();
  EXPECT_NE(readTextFile(settingsPath()).find("character=1\n"), std::string::npos) << readTextFile(settingsPath());
}
