#include "LaunchOptions.h"

#include <CLI/CLI.hpp>

#include <sstream>

#include "platform/resources.h"

namespace {

// Options that are declared for the full program but whose feature is not in this build yet.
struct Pending {
  const char* flag;
  bool given;
};

}  // namespace

LaunchParse parseLaunchOptions(int argc, const char* const* argv) {
  LaunchParse result;
  LaunchOptions& o = result.options;
  CLI::App app{"Quibblers: four guinea pigs repeat what you say in their own voices.", "quibblers"};
  app.set_version_flag("--version", "quibblers " + NSBundle::mainBundle().infoValue("CFBundleVersion").value_or("?"));

  auto* mic = app.add_option("--mic", o.mic, "Answer this recording (16-bit mono 44100 Hz WAV) instead of the microphone")
                  ->check(CLI::ExistingFile);
  app.add_option("--speaker", o.speaker, "With --mic: write what the loudspeaker plays to this WAV file")
      ->needs(mic);
  app.add_option("--frames-per-cycle", o.framesPerCycle, "With --mic: samples per audio cycle")
      ->check(CLI::Range(1, 3072))
      ->needs(mic);
  app.add_option("--video", o.video, "Headless: render the characters and the sound to this MP4 file");
  app.add_option("--frames", o.framesDir, "Headless: write the rendered frames as PNG files into this folder");
  app.add_flag("--greeting", o.greeting, "Arm the greeting clip at launch");
  app.add_flag("--tuning", o.tuning, "Show the tuning overlay");
  app.add_flag("--flat", o.flat, "Show the flat character view");
  app.add_option("--collection-server", o.collectionServer, "Analytics collection server, HOST[:PORT]");
  auto* list = app.add_flag("--list-devices", o.listDevices, "List the sound devices and exit");
  app.add_option("--input-device", o.inputDevice, "Live audio: microphone device (name or number)")
      ->excludes(mic)->excludes(list);
  app.add_option("--output-device", o.outputDevice, "Live audio: loudspeaker device (name or number)")
      ->excludes(mic)->excludes(list);
  list->excludes(mic);

  std::ostringstream out;
  std::ostringstream err;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    result.exitNow = true;
    result.exitCode = app.exit(e, out, err);
    result.message = out.str() + err.str();
    if (result.exitCode != 0) result.message += "Run 'quibblers --help' for the options.\n";
    return result;
  }

  const Pending pending[] = {{"--video", o.video.has_value()},
                             {"--frames", o.framesDir.has_value()},
                             {"--tuning", o.tuning},
                             {"--flat", o.flat},
                             {"--collection-server", o.collectionServer.has_value()}};
  for (const Pending& p : pending) {
    if (p.given) {
      result.exitNow = true;
      result.exitCode = 2;
      result.message = std::string("quibblers: ") + p.flag + " is not available yet in this version\n";
      return result;
    }
  }
  return result;
}
