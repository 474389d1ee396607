#include "ViewModule.h"

#include "platform/modules.h"

std::unique_ptr<AnswerPictures> loadAnswerPictures(bool flat, bool tuning, std::string& error) {
  using Load = AnswerPictures*(bool, bool, std::string&);
  auto* load = platform::moduleFunction<Load>("view", "qb_view_answer_pictures", error);
  return std::unique_ptr<AnswerPictures>(load ? load(flat, tuning, error) : nullptr);
}

std::unique_ptr<platform::FrameSeries> openPngFrames(const std::string& dir, int width, int height,
                                                     std::string& error) {
  using Open = platform::FrameSeries*(const std::string&, int, int, std::string&);
  auto* open = platform::moduleFunction<Open>("view", "qb_view_png_frames", error);
  return std::unique_ptr<platform::FrameSeries>(open ? open(dir, width, height, error) : nullptr);
}

int runWindowAppModule(const LaunchOptions& options, std::shared_ptr<platform::DuplexAudioBackend> audio,
                       SettingsFile& settings, const AppSettings& stored, bool settingsUsable) {
  using Run = int(const LaunchOptions&, std::shared_ptr<platform::DuplexAudioBackend>&, SettingsFile&,
                  const AppSettings&, bool);
  std::string error;
  auto* run = platform::moduleFunction<Run>("view", "qb_view_run_window_app", error);
  if (!run) return reportFailure(RunFailure::kBadInputOrOutput, error);
  return run(options, audio, settings, stored, settingsUsable);
}
