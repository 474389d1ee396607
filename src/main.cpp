// Process entry: reads the launch options and runs the app in a window with live sound, on a
// recording (headless), or with live sound in the terminal.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "Beacon.h"
#include "EngineRandom.h"
#include "HeadlessAnswer.h"
#include "LaunchOptions.h"
#include "LiveRun.h"
#include "RtAudioBackend.h"
#include "TerminationSignals.h"
#include "WindowApp.h"
#include "platform/resources.h"
#include "platform/window.h"

namespace {
// The exit status that tells scripts/run to answer the bundled sample instead.
constexpr int kNoDisplayOrSound = 3;
constexpr const char* kTryOffline =
    "answer a recording instead: quibblers --mic FILE.wav --video OUT.mp4 --speaker OUT.wav";
}  // namespace

int main(int argc, char** argv) {
  // Before any thread exists, so every thread leaves SIGINT, SIGTERM and SIGHUP to the app.
  TerminationSignals::install();
  const LaunchParse parsed = parseLaunchOptions(argc, argv, std::getenv("DO_NOT_TRACK"));
  if (parsed.exitNow) {
    std::fputs(parsed.message.c_str(), parsed.exitCode == 0 ? stdout : stderr);
    return parsed.exitCode;
  }
  const LaunchOptions& options = parsed.options;
  if (options.collectionServer && !Beacon::setCollectionServer(*options.collectionServer)) {
    std::fprintf(stderr, "quibblers: --collection-server takes HOST[:PORT] or [IPV6-ADDRESS][:PORT], not '%s'\n",
                 options.collectionServer->c_str());
    return 2;
  }
  if (options.listDevices) return listDevices();
  // Without its pictures the app would answer with an empty stage and call it a success.
  if (const std::string missing = NSBundle::mainBundle().missingReason(); !missing.empty()) {
    std::fprintf(stderr, "quibblers: %s\n", missing.c_str());
    return 1;
  }
  if (options.mic) return runHeadlessAnswer(options);
  if (options.noWindow) return runLive(options);

  if (!platform::displayAvailable()) {
    std::fprintf(stderr, "quibblers: no display to open a window on (DISPLAY is not set); %s\n",
                 kTryOffline);
    return kNoDisplayOrSound;
  }
  auto device = std::make_shared<platform::RtAudioBackend>(options.inputDevice, options.outputDevice);
  const std::string why = device->probe();
  if (!why.empty()) {
    if (!device->canWait()) {
      std::fprintf(stderr, "quibblers: %s; %s\n", why.c_str(), kTryOffline);
      return kNoDisplayOrSound;
    }
    device->waitForDevices(why);
  }
  seedEngineRandom(freshRandomSeed());
  return runWindowApp(options, device);
}
