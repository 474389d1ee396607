// Process entry: reads the launch options and runs the app.
#include <cstdio>

#include "LaunchOptions.h"
#include "OfflineRun.h"

int main(int argc, char** argv) {
  const LaunchParse parsed = parseLaunchOptions(argc, argv);
  if (parsed.exitNow) {
    std::fputs(parsed.message.c_str(), parsed.exitCode == 0 ? stdout : stderr);
    return parsed.exitCode;
  }
  const LaunchOptions& options = parsed.options;
  if (options.mic) return runOffline(options);
  std::fputs("quibblers: live audio is not available yet; answer a recording with "
             "--mic FILE.wav --speaker OUT.wav\n", stderr);
  return 2;
}
