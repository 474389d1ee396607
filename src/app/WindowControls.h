#pragma once
// What the window draws over the character for people rather than for the picture: buttons for
// the previous and next character, the microphone, recording and help (each showing its key),
// the first-launch hint, the help card, the recording indicator and short messages ("toasts").
// None of it belongs in a recording: hideForCapture() takes it all out of the next composite.
// Main thread only.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/UIWindow.h"

enum class ControlAction { Previous, Next, Microphone, Record, Help };

class ControlButton;
class HintView;
class HelpCardView;
class LabelView;

class WindowControls {
 public:
  // Adds the views to `window`, in front of what it holds. `onTap` runs when a button is clicked.
  WindowControls(UIWindow& window, std::function<void(ControlAction)> onTap);
  ~WindowControls();

  // Puts the views back in front (after another view was added).
  void raise();
  // The tuning overlay takes taps over the whole window: the buttons and hint make way for it.
  void setTuningShown(bool shown);
  void setMicrophoneOff(bool off);
  // Shows the red dot and the elapsed time, or hides them.
  void setRecording(bool recording, double elapsedSeconds = 0);

  void setHelpShown(bool shown);
  bool helpShown() const;

  // The first-launch hint; it fades out `kHintSeconds` after `now`, or at once after answered().
  void showHint(double now);
  bool hintShown() const;
  void answered(double now);

  // A message at the bottom for `seconds`.
  void toast(const std::string& text, double now, double seconds);
  const std::string& toastText() const;

  // Once per tick: fades and expires what is timed.
  void tick(double now);

  // Hides everything for one composite; restore() brings back what was shown.
  void hideForCapture();
  void restore();

  static constexpr double kHintSeconds = 8;
  static constexpr double kFadeSeconds = 0.8;
  // The help card's lines: a key (or gesture) and what it does.
  struct HelpLine {
    const char* keys;
    const char* action;
  };
  static const std::vector<HelpLine>& helpLines();

 private:

  UIWindow& window_;
  std::vector<std::shared_ptr<ControlButton>> buttons_;
  std::shared_ptr<HintView> hint_;
  std::shared_ptr<HelpCardView> help_;
  std::shared_ptr<LabelView> recording_;
  std::shared_ptr<LabelView> toast_;
  std::vector<std::pair<std::shared_ptr<UIView>, bool>> hiddenForCapture_;
  bool tuningShown_ = false;
  double hintFadeStart_ = 0;
  double toastEnd_ = 0;
  std::string toastText_;
};
