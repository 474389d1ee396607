#include "ViewModule.h"

#include "platform/Modules.h"

std::unique_ptr<AnswerPictures> loadAnswerPictures(bool flat, bool tuning, std::string& error) {
  using Load = AnswerPictures*(bool, bool, std::string&);
  auto load = platform::moduleFunction<Load>("view", "qb_view_answer_pictures");
  if (!load) {
    error = load.message();
    return nullptr;
  }
  return std::unique_ptr<AnswerPictures>((*load)(flat, tuning, error));
}

std::unique_ptr<platform::FrameSeries> openPngFrames(const std::string& dir, int width, int height,
                                                     std::string& error) {
  using Open = platform::FrameSeries*(const std::string&, int, int, std::string&);
  auto open = platform::moduleFunction<Open>("view", "qb_view_png_frames");
  if (!open) {
    error = open.message();
    return nullptr;
  }
  return std::unique_ptr<platform::FrameSeries>((*open)(dir, width, height, error));
}

int runWindowAppModule(const LaunchOptions& options, std::shared_ptr<platform::DuplexAudioBackend> audio,
                       SettingsFile& settings, const AppSettings& stored, bool settingsUsable) {
  using Run = int(const LaunchOptions&, std::shared_ptr<platform::DuplexAudioBackend>&, SettingsFile&,
                  const AppSettings&, bool);
  auto run = platform::moduleFunction<Run>("view", "qb_view_run_window_app");
  if (!run) return reportFailure(RunFailure::kBadInputOrOutput, run.message());
  return (*run)(options, audio, settings, stored, settingsUsable);
}
