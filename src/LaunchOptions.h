#pragma once
// The program's command line, parsed into one struct.
#include <cstddef>
#include <optional>
#include <string>

struct LaunchOptions {
  // Offline audio: answer a recording instead of the microphone.
  std::optional<std::string> mic;      // --mic IN.wav
  std::optional<std::string> speaker;  // --speaker OUT.wav
  unsigned framesPerCycle = 1024;      // --frames-per-cycle F (offline device), 1..3072
  // Headless picture output.
  std::optional<std::string> video;      // --video OUT.mp4
  std::optional<std::string> framesDir;  // --frames DIR
  std::optional<std::string> frameLog;   // --frame-log FILE (CSV, one line per tick)
  // App features.
  bool greeting = false;  // --greeting: arm the greeting clip at launch
  bool tuning = false;    // --tuning: show the tuning overlay
  bool flat = false;      // --flat: show the flat character view
  std::optional<int> character;  // --character N: start on character N (0..3) and its voice
  bool fullScreen = false;  // --fullscreen: open the window in full screen (F11 toggles)
  std::optional<std::string> collectionServer;  // --collection-server HOST[:PORT]
  bool noAnalytics = false;  // --no-analytics, or DO_NOT_TRACK in the environment
  // Live audio devices.
  bool listDevices = false;                 // --list-devices
  std::optional<std::string> inputDevice;   // --input-device NAME|NUMBER
  std::optional<std::string> outputDevice;  // --output-device NAME|NUMBER
  bool noWindow = false;                    // --no-window: live audio in the terminal
};

struct LaunchParse {
  LaunchOptions options;
  // When set, the program prints `message` (to stdout for --help/--version, else stderr) and
  // exits with `exitCode` without running.
  bool exitNow = false;
  int exitCode = 0;
  std::string message;
};

// `doNotTrack` is the DO_NOT_TRACK environment variable (null when unset); any value but empty
// or "0" turns analytics off, as --no-analytics does. --help wraps to `helpWidth` columns.
LaunchParse parseLaunchOptions(int argc, const char* const* argv, const char* doNotTrack = nullptr,
                               std::size_t helpWidth = 80);
