#include "LaunchOptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string_view>

#include "EAGLView.h"
#include "HelpFormatter.h"
#include "platform/resources.h"

LaunchParse parseLaunchOptions(int argc, const char* const* argv, const char* doNotTrack) {
  LaunchParse result;
  LaunchOptions& o = result.options;
  CLI::App app{"Quibblers: four guinea pigs repeat what you say in their own voices.", "quibblers"};
  app.formatter(std::make_shared<HelpFormatter>());
  app.set_version_flag("--version", "quibblers " + NSBundle::mainBundle().infoValue("CFBundleVersion").value_or("?"));

  auto* mic = app.add_option("--mic", o.mic, "Answer this recording instead of the microphone: WAV, FLAC, Ogg, MP3, or (with ffmpeg installed) M4A and other formats; converted to mono 44100 Hz on the way in")
                  ->check(CLI::ExistingFile);
  app.add_option("--speaker", o.speaker, "With --mic: write what the loudspeaker plays to this WAV file")
      ->type_name("FILE")
      ->needs(mic);
  app.add_option("--frames-per-cycle", o.framesPerCycle, "With --mic: samples per audio cycle")
      ->type_name("N")
      ->check(CLI::Range(1, 3072))
      ->needs(mic);
  app.add_option("--video", o.video, "With --mic: render the character and the sound (person and character) to this MP4 file (needs ffmpeg)")
      ->type_name("FILE")
      ->needs(mic);
  app.add_option("--frames", o.framesDir, "With --mic: write one PNG per animation tick into this folder")
      ->type_name("DIR")
      ->needs(mic);
  app.add_option("--frame-log", o.frameLog, "With --mic: write one CSV line per animation tick (mode, mouth frame, character)")
      ->type_name("FILE")
      ->needs(mic);
  app.add_flag("--greeting", o.greeting, "Arm the greeting clip at launch");
  app.add_flag("--tuning", o.tuning, "Show the tuning overlay");
  app.add_flag("--flat", o.flat, "Show the flat character view");
  app.add_flag("--fullscreen", o.fullScreen, "Open the window in full screen (F11 toggles it)")->excludes(mic);
  std::string voices;
  for (int i = 0; i < 4; ++i) voices += std::string(i ? "; " : "") + std::to_string(i) + ": " + kCharacterVoices[i].description;
  app.add_option("--character", o.character, "Start on this character and its voice (" + voices + ")")
      ->type_name("N")
      ->check(CLI::Range(0, 3));
  app.add_option("--collection-server", o.collectionServer, "Analytics collection server")
      ->type_name("HOST[:PORT]");
  app.add_flag("--no-analytics", o.noAnalytics,
               "No usage analytics for this run: nothing stored, nothing sent (also when DO_NOT_TRACK is set to anything but 0); reports kept from earlier runs wait for a run with analytics");
  auto* list = app.add_flag("--list-devices", o.listDevices, "List the sound devices (name, description, defaults) and exit");
  app.add_option("--input-device", o.inputDevice, "Live audio: microphone device, by the name --list-devices shows (default: the sound server's, followed when it changes)")
      ->type_name("DEVICE")
      ->excludes(mic)->excludes(list);
  app.add_option("--output-device", o.outputDevice, "Live audio: loudspeaker device, by the name --list-devices shows (default: the sound server's, followed when it changes)")
      ->type_name("DEVICE")
      ->excludes(mic)->excludes(list);
  app.add_flag("--no-window", o.noWindow, "Live audio in the terminal, without a window")->excludes(mic);
  list->excludes(mic);
  app.footer(
      "Headless outputs appear only when complete; a failed or interrupted run leaves none.\n"
      "Exit status: 0 done, 1 recording or output failed, 2 command-line mistake, 3 no display or\n"
      "sound device, 128+N headless answer stopped by signal N (130 SIGINT, 143 SIGTERM, 129 SIGHUP).");

  std::ostringstream out;
  std::ostringstream err;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    result.exitNow = true;
    if (e.get_exit_code() == 0) {  // --help, --version
      result.exitCode = app.exit(e, out, err);
      result.message = out.str() + err.str();
      return result;
    }
    // One line for the mistake, one for the way out; the usual status of a usage error.
    result.exitCode = 2;
    std::string what = e.what();
    std::replace(what.begin(), what.end(), '\n', ' ');
    result.message = "quibblers: " + what + "\nRun 'quibblers --help' for the options.\n";
    return result;
  }

  if (doNotTrack && *doNotTrack && std::string_view(doNotTrack) != "0") o.noAnalytics = true;
  return result;
}
