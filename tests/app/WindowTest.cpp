// The app in a real window under Xvfb with live sound from a private PulseAudio server: a drag
// across more than half the window selects the next character, and so do the keys.
#include <gtest/gtest.h>
#include <signal.h>

#include <array>
#include <cmath>
#include <limits>

#include "ChildProcess.h"
#include "PrivateSoundServer.h"
#include "TempDir.h"
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
        std::vector<std::string>{"Xvfb", display, "-screen", "0", "1280x1100x24", "-nolisten", "tcp"},
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

  // The character the window shows now.
  int shownCharacter(const std::string& name) {
    const std::string shot = dir.file(name + ".png");
    EXPECT_EQ(tool({"import", "-window", windowId, shot}), 0);
    std::vector<std::uint8_t> pixels;
    int w = 0, h = 0;
    std::string error;
    EXPECT_TRUE(platform::readPng(shot, pixels, w, h, error)) << error;
    if (pixels.empty()) return -1;
    return nearestCharacter(bodyColour(pixels, w, h));
  }

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
  app = std::make_unique<ChildProcess>(
      std::vector<std::string>{QB_QUIBBLERS, "--collection-server", "127.0.0.1:9", "--input-device",
                               "Monitor of VirtualMic", "--output-device", "VirtualSpeaker"},
      env, dir.file("quibblers.log"));
  ASSERT_TRUE(waitUntil([&] {
    if (tool({"xdotool", "search", "--name", "^Quibblers$"}, dir.file("window.txt")) != 0) return false;
    windowId = readTextFile(dir.file("window.txt"));
    windowId = windowId.substr(0, windowId.find('\n'));
    return !windowId.empty();
  }, 20.0)) << readTextFile(dir.file("quibblers.log"));
  sleepSeconds(1.0);
  EXPECT_EQ(shownCharacter("start"), 0);

  // Geometry of the window, to drag from 90 % to 10 % of its width.
  ASSERT_EQ(tool({"xdotool", "getwindowgeometry", "--shell", windowId}, dir.file("geometry.txt")), 0);
  const std::string geometry = readTextFile(dir.file("geometry.txt"));
  auto value = [&](const std::string& key) {
    const auto at = geometry.find(key + "=");
    return at == std::string::npos ? 0 : std::stoi(geometry.substr(at + key.size() + 1));
  };
  const int x = value("X"), y = value("Y"), w = value("WIDTH"), h = value("HEIGHT");
  ASSERT_GT(w, 100) << geometry;
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
  app = std::make_unique<ChildProcess>(
      std::vector<std::string>{QB_QUIBBLERS, "--no-analytics", "--character", "3", "--input-device",
                               "Monitor of VirtualMic", "--output-device", "VirtualSpeaker"},
      env, dir.file("quibblers.log"));
  ASSERT_TRUE(waitUntil([&] {
    if (tool({"xdotool", "search", "--name", "^Quibblers$"}, dir.file("window.txt")) != 0) return false;
    windowId = readTextFile(dir.file("window.txt"));
    windowId = windowId.substr(0, windowId.find('\n'));
    return !windowId.empty();
  }, 20.0)) << readTextFile(dir.file("quibblers.log"));
  sleepSeconds(1.0);
  EXPECT_EQ(shownCharacter("start"), 3);
}
