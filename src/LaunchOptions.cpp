#include "LaunchOptions.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string_view>

#include "CharacterVoices.h"
#include "CollectionServer.h"
#include "HelpFormatter.h"
#include "WindowKeys.h"
#include "platform/NSBundle.h"

namespace {

// The text under the options: the window's keys, then what a run leaves and how it ends.
std::string helpFooter(std::size_t width) {
  std::size_t column = 0;
  for (const auto& key : kWindowKeyHelp) column = std::max(column, std::string_view(key.keys).size());
  column = std::min(column + 4, width / 3);
  std::string footer = "In the window:\n";
  for (const auto& key : kWindowKeyHelp) footer += termAndText(key.keys, key.action, column, width);
  footer += "\n" + wrapText("Choices are remembered in $XDG_CONFIG_HOME/quibblers/quibblers.conf (analytics = off there "
                            "turns analytics off); the command line wins over it.", width, 0);
  footer += "\n\n" + wrapText("Headless outputs appear only when complete; a failed or interrupted run leaves none.", width, 0);
  footer += "\n\n" + wrapText("Exit status: 0 done, 1 recording or output failed, 2 command-line mistake, 3 no display or "
                              "sound device, 128+N headless answer stopped by signal N (130 SIGINT, 143 SIGTERM, 129 SIGHUP).",
                              width, 0);
  return footer;
}

}  // namespace

LaunchParse parseLaunchOptions(int argc, const char* const* argv, const char* doNotTrack, std::size_t helpWidth) {
  LaunchParse result;
  LaunchOptions& o = result.options;
  CLI::App app{"Quibblers: four guinea pigs repeat what you say in their own voices.", "quibblers"};
  app.formatter(std::make_shared<HelpFormatter>(helpWidth));
  app.set_version_flag("--version", "quibblers " + NSBundle::mainBundle().infoValue("CFBundleVersion").value_or("?"));

  auto* mic = app.add_option("--mic", o.mic, "Answer this recording instead of the microphone: WAV, FLAC, Ogg, MP3, or (with ffmpeg installed) M4A and other formats; converted to mono 44100 Hz on the way in")
                  ->check(CLI::ExistingFile);
  app.add_option("--speaker", o.speaker, "With --mic: write what the loudspeaker plays to this WAV file")
      ->type_name("FILE")
      ->needs(mic);
  app.add_option("--frames-per-cycle", o.framesPerCycle, "With --mic: samples per audio cycle of the stand-in sound device, 1-3072 (default 1024)")
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
  app.add_option("--character", o.character, "Start on this character and its voice (" + voices + "; default 0)")
      ->type_name("{0,1,2,3}")
      ->check(CLI::Range(0, 3));
  app.add_option("--collection-server", o.collectionServer, "Analytics collection server (default " + CollectionServer::hostAndPort() + ")")
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
  app.footer(helpFooter(helpWidth));

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

  // A headless answer is only ever seen through its outputs: without one it is work for nothing.
  if (o.mic && !o.speaker && !o.video && !o.framesDir && !o.frameLog) {
    result.exitNow = true;
    result.exitCode = 2;
    result.message = "quibblers: --mic writes nothing without an output: give --speaker FILE, --video FILE, "
                     "--frames DIR or --frame-log FILE\n";
    return result;
  }
  if (doNotTrack && *doNotTrack && std::string_view(doNotTrack) != "0") o.noAnalytics = true;
  return result;
}
