#pragma once
// The program's side of the view module (the character view over GL and cairo, the window app):
// each call loads the module on first use. Null (or status 1) with a sentence on stderr or in
// `error` when it cannot be loaded.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "AppHost.h"
#include "AppSettings.h"
#include "LaunchOptions.h"
#include "platform/PngFrames.h"

namespace platform {
class DuplexAudioBackend;
}

// The character's pictures in a headless answer: the character view (with the --flat and
// --tuning views) on the main run loop, each animation tick handed on.
class AnswerPictures {
 public:
  // One tick: the composited frame (null when not drawing), the mouth frame, the character.
  using Tick = std::function<void(const std::uint8_t* rgba, int mouthFrame, int character)>;

  virtual ~AnswerPictures() = default;
  // Selects a character with the camera already on it, and its voice.
  virtual void showCharacter(int character) = 0;
  // The window and the animation, for the app's delegate.
  virtual AppViews views() const = 0;
  // Every present of the character view calls `tick`, with the frame when `draw`; an empty
  // `tick` ends that.
  virtual void onPresent(bool draw, Tick tick) = 0;
  // For the frame log alone, once launched: the view stops drawing, and the same ticks on the
  // same clock advance it and call `tick` until `finished()` holds.
  virtual void tickWithoutDrawing(std::function<bool()> finished, Tick tick) = 0;
};

std::unique_ptr<AnswerPictures> loadAnswerPictures(bool flat, bool tuning, std::string& error);

// A PNG series in `dir` (cairo draws it, so it comes from the module too).
std::unique_ptr<platform::FrameSeries> openPngFrames(const std::string& dir, int width, int height,
                                                     std::string& error);

// The app in a window on the live sound device `audio` (runWindowApp in the module); returns the
// exit status.
int runWindowAppModule(const LaunchOptions& options, std::shared_ptr<platform::DuplexAudioBackend> audio,
                       SettingsFile& settings, const AppSettings& stored, bool settingsUsable);
