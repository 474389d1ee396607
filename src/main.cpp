// Process entry: reads the launch options and runs the app.
#include <cstdio>

#include "LaunchOptions.h"
#include "LiveRun.h"
#include "OfflineRun.h"

int main(int argc, char** argv) {
  const LaunchParse parsed = parseLaunchOptions(argc, argv);
  if (parsed.exitNow) {
    std::fputs(parsed.message.c_str(), parsed.exitCode == 0 ? stdout : stderr);
    return parsed.exitCode;
  }
  const LaunchOptions& options = parsed.options;
  if (options.listDevices) return listDevices();
  if (options.mic) return runOffline(options);
  return runLive(options);
}
