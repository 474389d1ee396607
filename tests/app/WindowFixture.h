#pragma once
// The app in a real window under Xvfb (xdotool drives it, ImageMagick's import takes
// screenshots) with live sound from a private PulseAudio server, its settings and videos in the
// test's own folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>

#include "ChildProcess.h"
#include "PrivateSoundServer.h"
#include "TempDir.h"
#include "ToneAnalysis.h"
#include "WavFile.h"
#include "platform/PngFrames.h"

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
    if (!platform::readPng(std::string(QB_SOURCE_DIR) + name, art, w, h)) continue;
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
    // -noreset: Xvfb otherwise resets whenever its last client leaves, and a window opened while
    // one of the test's xdotool calls was leaving vanished with the reset (about one launch in 30).
    xvfb = std::make_unique<ChildProcess>(
        std::vector<std::string>{"Xvfb", display, "-screen", "0", screen, "-nolisten", "tcp", "-noreset"},
        std::map<std::string, std::string>{}, dir.file("xvfb.log"));
    sound = std::make_unique<PrivateSoundServer>(dir.file("sound"));
    std::string log;
    ASSERT_TRUE(sound->ready(log)) << log;
    env = sound->environment();
    env["DISPLAY"] = display;
    env["XDG_DATA_HOME"] = dir.file("data");
    env["XDG_CONFIG_HOME"] = dir.file("config");
    std::filesystem::create_directories(dir.file("config/quibblers"));
    std::ofstream(dir.file("config/user-dirs.dirs")) << "XDG_VIDEOS_DIR=\"" << videos() << "\"\n";
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
    auto appEnv = env;
    for (const auto& [name, value] : appOnlyEnv) appEnv[name] = value;
    app = std::make_unique<ChildProcess>(argv, appEnv, dir.file("quibblers.log"));
    ASSERT_TRUE(waitUntil([&] {
      if (tool({"xdotool", "search", "--name", "^Quibblers$"}, dir.file("window.txt")) != 0) return false;
      windowId = readTextFile(dir.file("window.txt"));
      windowId = windowId.substr(0, windowId.find('\n'));
      return !windowId.empty();
    }, 60.0)) << readTextFile(dir.file("quibblers.log")) << "\nXvfb: " << readTextFile(dir.file("xvfb.log"))
              << (app->running() ? "\n(the app runs)" : "\n(the app has exited)");  // generous: a busy machine maps it late
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
    const platform::Status read = platform::readPng(shot, pixels, w, h);
    EXPECT_TRUE(read) << read.message();
  }

  // The character the window shows now.
  int shownCharacter(const std::string& name) {
    std::vector<std::uint8_t> pixels;
    int w = 0, h = 0;
    screenshot(name, pixels, w, h);
    if (pixels.empty()) return -1;
    return nearestCharacter(bodyColour(pixels, w, h));
  }

  // Clicks the frame point (x, y) of the 320 × 480 the window shows.
  void click(double x, double y) {
    const Geometry g = geometry();
    ASSERT_EQ(tool({"xdotool", "mousemove", std::to_string(g.x + int(x * g.width / 320)),
                    std::to_string(g.y + int(y * g.height / 480)), "click", "1"}), 0);
  }

  void key(const std::string& name) {
    ASSERT_EQ(tool({"xdotool", "windowfocus", "--sync", windowId}), 0);
    ASSERT_EQ(tool({"xdotool", "key", name}), 0);
  }

  // Q, then the exit status.
  int quit() {
    key("q");
    return app->wait(20.0).value_or(-1);
  }

  // Mean brightness (0..255) of the frame points [x0, x1) × [y0, y1) in a screenshot.
  static double brightness(const std::vector<std::uint8_t>& rgba, int w, int h, double x0, double y0,
                           double x1, double y1) {
    double sum = 0;
    int count = 0;
    for (int y = int(y0 * h / 480); y < int(y1 * h / 480); ++y) {
      for (int x = int(x0 * w / 320); x < int(x1 * w / 320); ++x) {
        const std::uint8_t* p = rgba.data() + (std::size_t(y) * w + x) * 4;
        sum += (p[0] + p[1] + p[2]) / 3.0;
        ++count;
      }
    }
    return count ? sum / count : 0;
  }

  std::string log() { return readTextFile(dir.file("quibblers.log")); }
  std::string settingsPath() { return dir.file("config/quibblers/quibblers.conf"); }
  std::string videos() { return dir.file("videos"); }

  std::string screen = "1280x1100x24";
  std::map<std::string, std::string> appOnlyEnv;  // for the app, not the tools
  TempDir dir;
  std::string display;
  std::map<std::string, std::string> env;
  std::unique_ptr<ChildProcess> xvfb;
  std::unique_ptr<PrivateSoundServer> sound;
  std::unique_ptr<ChildProcess> app;
  std::string windowId;
};

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
        // The badge's deep red, not the poppy-red bunting of the second character's garden.
        if (p[0] > 150 && p[1] < 55 && p[2] < 55) ++red;
      }
    }
    return red > 100;
  }
};

}  // namespace
