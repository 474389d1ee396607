#pragma once
// The badge the window shows while the microphone is switched off (M): a small red label in the
// top-left corner, over the character, or the top-right one while the tuning overlay shows its
// text down the left. It takes no touches, so drags pass through it.
#include <memory>

#include "platform/UIView.h"

class MicrophoneOffView : public UIView {
 public:
  static constexpr const char* kText = "Microphone off (M)";

  static std::shared_ptr<MicrophoneOffView> init();
  void drawRect(CGRect rect) override;
  // Top-left, or top-right when the tuning overlay is shown.
  void placeClearOfTuning(bool tuningShown);

  MicrophoneOffView();
};
