#pragma once
// What the phone's interface file described: one window holding the full-screen character view,
// plus the Linux program's optional views over it (the flat character, the tuning overlay).
#include <memory>
#include <string>

#include "EAGLView.h"
#include "QuibbleDebugView.h"
#include "Quibbler.h"
#include "platform/UIWindow.h"

struct MainInterface {
  std::shared_ptr<UIWindow> window;
  std::shared_ptr<EAGLView> glView;
  std::shared_ptr<Quibbler> flatView;             // --flat: shown in place of the GL character
  std::shared_ptr<QuibbleDebugView> tuningView;   // --tuning (or the T key): over everything
  std::shared_ptr<UIView> tuningPanel;            // behind the overlay's text, so it reads

  // Builds the window and the character view. Null with `error` set when the view cannot be
  // created (no usable OpenGL ES).
  static std::unique_ptr<MainInterface> load(bool flat, bool tuning, std::string& error);

  // Shows or hides the tuning overlay, creating it on first use.
  void setTuningVisible(bool visible);
  bool tuningVisible() const { return tuningView && !tuningView->isHidden(); }

  // Once per animation tick, after the character view has drawn: feeds the flat view as the
  // character view feeds itself and refreshes the overlay's numbers.
  void tick();

  // Selects a character as a full drag across the screen would: one drag per step.
  void selectCharacter(int index);
};
