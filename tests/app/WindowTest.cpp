// The app in a real window under Xvfb with live sound from a private PulseAudio server: a drag
// across more than half the window selects the next character, and so do the keys; on a small
// screen the window fits it, full screen covers it, and a muted microphone gets no answers.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "ChildProcess.h"
#include "PrivateSoundServer.h"
#include "TempDir.h"
#include "ToneAnalysis.h"
#include "WavFile.h"
#include "platform/png_frames.h"

namespace {

struct Colour {
  double r = 0, g = 0, b = 0;
};

// Mean colour over the middle of the body, as it shows on white: the part of the frame that
// tells the four coats apart.
Colour bodyColour(const std::vector<std::uint8_t>& rgba, int width, int height) {
  Colour sum;
  int count = 0;
  for (int y = height * 62 / 100; y < height * 88 / 100; ++y) {
    for (int x = width * 15 / 100; x < width * 85 / 100; ++x) {
      const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 4;
      const double white = 255.0 - rgba[i + 3];  // premultiplied over white
      sum.r += rgba[i] + white;
      sum.g += rgba[i + 1] + white;
      sum.b += rgba[i + 2] + white;
      ++count;
    }
  }
  return {sum.r / count, sum.g / count, sum.b / count};
}

// The character whose artwork is closest in body colour to the screenshot.
int nearestCharacter(const Colour& seen) {
  int best = -1;
  double bestDistance = std::numeric_limits<double>::max();
  for (int character = 0; character < 4; ++character) {
    char name[64];
    std::snprintf(name, sizeof name, "/resources/QB_%02d_00.png", character);
    std::vector<std::uint8_t> art;
    int w = 0, h = 0;
    std::string error;
    if (!platform::readPng(std::string(QB_SOURCE_DIR) + name, art, w, h, error)) continue;
    const Colour c = bodyColour(art, w, h);
    const double d = std::hypot(c.r - seen.r, c.g - seen.g, c.b - seen.b);
    if (d < bestDistance) {
      bestDistance = d;
      best = character;
    }
  }
  return best;
}

class WindowApp : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "xdotool", "import"}) {
      if (!ChildProcess::available(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    if (!PrivateSoundServer::available()) GTEST_SKIP() << "PulseAudio is not installed";
    display = ":" + std::to_string(90 + getpid() % 100);
    xvfb = std::make_unique<ChildProcess>(
        std::vector<std::string>{"Xvfb", display, "-screen", "0", screen, "-nolisten", "tcp"},
        std::map<std::string, std::string>{}, dir.file("xvfb.log"));
    sound = std::make_unique<PrivateSoundServer>(dir.file("sound"));
    std::string log;
    ASSERT_TRUE(sound->ready(log)) << log;
    env = sound->environment();
    env["DISPLAY"] = display;
    env["XDG_DATA_HOME"] = dir.file("data");
    ASSERT_TRUE(waitUntil([&] { return tool({"xdotool", "getmouselocation"}) == 0; }, 10.0))
        << readTextFile(dir.file("xvfb.log"));
  }

  void TearDown() override {
    if (app) app->stop(SIGTERM, 10.0);
    sound.reset();
    if (xvfb) xvfb->stop(SIGTERM, 5.0);
  }

  int tool(const std::vector<std::string>& argv, const std::string& log = "") {
    ChildProcess p(argv, env.empty() ? std::map<std::string, std::string>{{"DISPLAY", display}} : env, log);
    return p.wait(20.0).value_or(-1);
  }

  // Starts the app with `extra` options and waits for its window.
  void launch(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv{QB_QUIBBLERS, "--collection-server", "127.0.0.1:9", "--input-device",
                                  "Monitor of VirtualMic", "--output-device", "VirtualSpeaker"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    app = std::make_unique<ChildProcess>(argv, env, dir.file("quibblers.log"));
    ASSERT_TRUE(waitUntil([&] {
      if (tool({"xdotool", "search", "--name", "^Quibblers$"}, dir.file("window.txt")) != 0) return false;
      windowId = readTextFile(dir.file("window.txt"));
      windowId = windowId.substr(0, windowId.find('\n'));
      return !windowId.empty();
    }, 20.0)) << readTextFile(dir.file("quibblers.log"));
    sleepSeconds(1.0);
  }

  // The window's position and size on the screen.
  struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
  };
  Geometry geometry() {
    EXPECT_EQ(tool({"xdotool", "getwindowgeometry", "--shell", windowId}, dir.file("geometry.txt")), 0);
    const std::string text = readTextFile(dir.file("geometry.txt"));
    auto value = [&](const std::string& key) {
      const auto at = text.find(key + "=");
      return at == std::string::npos ? 0 : std::stoi(text.substr(at + key.size() + 1));
    };
    return {value("X"), value("Y"), value("WIDTH"), value("HEIGHT")};
  }

  // A screenshot of the window, kept as NAME.png; empty pixels when it could not be taken.
  void screenshot(const std::string& name, std::vector<std::uint8_t>& pixels, int& w, int& h) {
    const std::string shot = dir.file(name + ".png");
    EXPECT_EQ(tool({"import", "-window", windowId, shot}), 0);
    std::string error;
    EXPECT_TRUE(platform::readPng(shot, pixels, w, h, error)) << error;
  }

  // The character the window shows now.
  int shownCharacter(const std::string& name) {
    std::vector<std::uint8_t> pixels;
    int w = 0, h = 0;
    screenshot(name, pixels, w, h);
    if (pixels.empty()) return -1;
    return nearestCharacter(bodyColour(pixels, w, h));
  }

  std::string screen = "1280x1100x24";
  TempDir dir;
  std::string display;
  std::map<std::string, std::string> env;
  std::unique_ptr<ChildProcess> xvfb;
  std::unique_ptr<PrivateSoundServer> sound;
  std::unique_ptr<ChildProcess> app;
  std::string windowId;
};

}  // namespace

TEST_F(WindowApp, ADragAcrossMoreThanHalfTheWindowAndTheKeysSelectCharacters) {
  ASSERT_NO_FATAL_FAILURE(launch());
  EXPECT_EQ(shownCharacter("start"), 0);

  // Drag from 90 % to 10 % of the window's width.
  const auto [x, y, w, h] = geometry();
  ASSERT_GT(w, 100);
  const int row = y + h / 2;
  ASSERT_EQ(tool({"xdotool", "mousemove", std::to_string(x + w * 9 / 10), std::to_string(row), "mousedown", "1"}), 0);
  for (int step = 1; step <= 8; ++step) {
    tool({"xdotool", "mousemove", std::to_string(x + w * (9 - step) / 10), std::to_string(row)});
    sleepSeconds(0.03);
  }
  ASSERT_EQ(tool({"xdotool", "mouseup", "1"}), 0);
  sleepSeconds(1.0);  // the camera springs over
  EXPECT_EQ(shownCharacter("after-drag"), 1) << readTextFile(dir.file("quibblers.log"));

  ASSERT_EQ(tool({"xdotool", "windowfocus", "--sync", windowId}), 0);
  ASSERT_EQ(tool({"xdotool", "key", "3"}), 0);
  sleepSeconds(1.0);
  EXPECT_EQ(shownCharacter("after-key-3"), 2);
  ASSERT_EQ(tool({"xdotool", "key", "Right"}), 0);
  sleepSeconds(1.0);
  EXPECT_EQ(shownCharacter("after-right"), 3);

  ASSERT_EQ(tool({"xdotool", "key", "q"}), 0);
  EXPECT_EQ(app->wait(15.0).value_or(-1), 0) << readTextFile(dir.file("quibblers.log"));
}

TEST_F(WindowApp, StartsOnTheCharacterGivenWithCharacter) {
  ASSERT_NO_FATAL_FAILURE(launch({"--no-analytics", "--character", "3"}));
  EXPECT_EQ(shownCharacter("start"), 3);
}

class SmallScreen : public WindowApp {
 protected:
  SmallScreen() { screen = "1366x768x24"; }

  // What the virtual speaker plays while `clip` goes into the virtual microphone.
  std::vector<std::int16_t> answerTo(const std::string& clip, const std::string& name) {
    ChildProcess recorder({"parecord", "-d", "spk.monitor", "--rate=44100", "--channels=1",
                           "--format=s16le", "--file-format=wav", dir.file(name + ".wav")},
                          env, dir.file(name + ".log"));
    sleepSeconds(1.0);
    ChildProcess player({"paplay", "-d", "mic", clip}, env, dir.file("paplay.log"));
    EXPECT_EQ(player.wait(20.0), 0) << readTextFile(dir.file("paplay.log"));
    sleepSeconds(4.0);  // the answer
    recorder.stop(SIGINT, 10.0);
    const auto heard = platform::readMonoWav16(dir.file(name + ".wav"));
    EXPECT_TRUE(heard.ok()) << heard.error;
    return heard.samples;
  }

  // Whether the badge saying the microphone is off shows in the window's top-left corner.
  bool microphoneOffShown(const std::string& name) {
    std::vector<std::uint8_t> pixels;
    int w = 0, h = 0;
    screenshot(name, pixels, w, h);
    int red = 0;
    for (int y = 0; y < std::min(h, 30); ++y) {
      for (int x = 0; x < std::min(w, 60); ++x) {
        const std::uint8_t* p = pixels.data() + (std::size_t(y) * w + x) * 4;
        if (p[0] > 150 && p[1] < 80 && p[2] < 80) ++red;
      }
    }
    return red > 100;
  }
};

TEST_F(SmallScreen, FitsTheScreenGoesFullScreenAndAMutedMicrophoneGetsNoAnswer) {
  ASSERT_NO_FATAL_FAILURE(launch({"--fullscreen"}));
  Geometry g = geometry();
  EXPECT_EQ(g.width, 1366);
  EXPECT_EQ(g.height, 768);

  // Back from full screen: the largest 2:3 window that fits 1366 x 768.
  ASSERT_EQ(tool({"xdotool", "windowfocus", "--sync", windowId}), 0);
  ASSERT_EQ(tool({"xdotool", "key", "F11"}), 0);
  sleepSeconds(1.0);
  g = geometry();
  EXPECT_EQ(g.width, 512);
  EXPECT_EQ(g.height, 768);
  EXPECT_FALSE(microphoneOffShown("listening"));

  // The first sentence of the sample.
  const auto sample = platform::readMonoWav16(std::string(QB_SOURCE_DIR) + "/resources/samples/hello-quibblers.wav");
  ASSERT_TRUE(sample.ok()) << sample.error;
  const std::vector<std::int16_t> sentence(sample.samples.begin(), sample.samples.begin() + 44100 * 7 / 2);
  ASSERT_EQ(tone::findSegments(sentence, 400, 0.35).size(), 1u);
  ASSERT_EQ(platform::writeMonoWav16(dir.file("sentence.wav"), sentence), "");
  sleepSeconds(1.5);  // PulseAudio streams deliver their first blocks after 1.5-2 s

  ASSERT_EQ(tool({"xdotool", "key", "m"}), 0);
  sleepSeconds(0.5);
  EXPECT_TRUE(microphoneOffShown("muted"));
  EXPECT_EQ(tone::findSegments(answerTo(dir.file("sentence.wav"), "muted"), 400, 0.35).size(), 0u)
      << "no answer while the microphone is off";

  ASSERT_EQ(tool({"xdotool", "key", "m"}), 0);
  sleepSeconds(0.5);
  EXPECT_FALSE(microphoneOffShown("unmuted"));
  EXPECT_EQ(tone::findSegments(answerTo(dir.file("sentence.wav"), "unmuted"), 400, 0.35).size(), 1u)
      << "answers again once it is back on";

  ASSERT_EQ(tool({"xdotool", "key", "q"}), 0);
  EXPECT_EQ(app->wait(15.0).value_or(-1), 0) << readTextFile(dir.file("quibblers.log"));
}
