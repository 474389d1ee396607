#include "LaunchOptions.h"

#include <CLI/CLI.hpp>

#include <sstream>

#include "platform/resources.h"

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
  app.add_option("--video", o.video, "With --mic: render the character and the sound (person and character) to this MP4 file")
      ->needs(mic);
  app.add_option("--frames", o.framesDir, "With --mic: write one PNG per animation tick into this folder")
      ->needs(mic);
  app.add_option("--frame-log", o.frameLog, "With --mic: write one CSV line per animation tick (mode, mouth frame, character)")
      ->needs(mic);
  app.add_flag("--greeting", o.greeting, "Arm the greeting clip at launch");
  app.add_flag("--tuning", o.tuning, "Show the tuning overlay");
  app.add_flag("--flat", o.flat, "Show the flat character view");
  app.add_flag("--fullscreen", o.fullScreen, "Open the window in full screen (F11 toggles it)")->excludes(mic);
  app.add_option("--collection-server", o.collectionServer, "Analytics collection server, HOST[:PORT]");
  auto* list = app.add_flag("--list-devices", o.listDevices, "List the sound devices and exit");
  app.add_option("--input-device", o.inputDevice, "Live audio: microphone device (name or number)")
      ->excludes(mic)->excludes(list);
  app.add_option("--output-device", o.outputDevice, "Live audio: loudspeaker device (name or number)")
      ->excludes(mic)->excludes(list);
  app.add_flag("--no-window", o.noWindow, "Live audio in the terminal, without a window")->excludes(mic);
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

  return result;
}
