// Process entry: reads the launch options and runs the app in a window with live sound, on a
// recording (headless), or with live sound in the terminal.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <unistd.h>

#include "AppHost.h"
#include "AppSettings.h"
#include "Beacon.h"
#include "HeadlessAnswer.h"
#include "HelpFormatter.h"
#include "LaunchOptions.h"
#include "LiveRun.h"
#include "TerminationSignals.h"
#include "ViewModule.h"
#include "platform/NSBundle.h"
#include "platform/Window.h"

int main(int argc, char** argv) {
  // Before any thread exists, so every thread leaves SIGINT, SIGTERM and SIGHUP to the app.
  TerminationSignals::install();
  const LaunchParse parsed = parseLaunchOptions(argc, argv, std::getenv("DO_NOT_TRACK"),
                                                 helpWidth(std::getenv("COLUMNS"), STDOUT_FILENO));
  if (parsed.exitNow) {
    std::fputs(parsed.message.c_str(), parsed.exitCode == 0 ? stdout : stderr);
    return parsed.exitCode;
  }
  LaunchOptions options = parsed.options;
  // Remembered choices; the command line wins, and headless answers take only the analytics
  // switch from them, so the same recording keeps getting the same answer.
  SettingsFile settingsFile(SettingsFile::defaultPath());
  std::string warning;
  const AppSettings stored = options.listDevices ? AppSettings{} : settingsFile.load(warning);
  if (!warning.empty()) std::fprintf(stderr, "quibblers: %s\n", warning.c_str());
  if (stored.analytics == false) options.noAnalytics = true;
  if (options.collectionServer && !Beacon::setCollectionServer(*options.collectionServer)) {
    return reportFailure(RunFailure::kUsage, "--collection-server takes HOST[:PORT] or [IPV6-ADDRESS][:PORT], not '" +
                                                 *options.collectionServer + "'");
  }
  if (options.listDevices) return listDevices();
  // Without its pictures the app would answer with an empty stage and call it a success.
  if (const std::string missing = NSBundle::mainBundle().missingReason(); !missing.empty()) {
    return reportFailure(RunFailure::kBadInputOrOutput, missing);
  }
  if (options.mic) return runHeadlessAnswer(options);
  if (options.noWindow) return runLive(options, stored);

  if (!platform::displayAvailable()) {
    return reportFailure(RunFailure::kNoDisplayOrSound,
                         std::string("no display to open a window on (DISPLAY is not set); ") + kTryOffline);
  }
  int failed = 0;
  auto sound = probeLiveAudio(options, failed);
  if (!sound) return failed;
  return runWindowAppModule(options, sound->device, settingsFile, stored, warning.empty());
}
