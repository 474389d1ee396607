#pragma once
// What the app's three hosts (the window, the headless answer, the terminal run) share: one
// launch and shutdown order, and one mapping from how a run failed to its exit status (README,
// "Exit statuses").
#include <functional>
#include <memory>
#include <string>

#include <optional>

#include "CharacterAnimation.h"
#include "LaunchOptions.h"
#include "platform/AudioBackend.h"
#include "platform/LiveSound.h"
#include "platform/UIApplication.h"

class UIWindow;

enum class RunFailure {
  kBadInputOrOutput,  // a recording, an output or the app's own files refused or unusable
  kUsage,             // a command-line mistake
  kNoDisplayOrSound,  // no display, or no sound device that can be opened
};
int exitStatus(RunFailure failure);
// One line on stderr, "quibblers: <what>", and the failure's exit status.
int reportFailure(RunFailure failure, const std::string& what);

// Where every "no display" or "no sound" line points the user.
extern const char* const kTryOffline;

// The live sound devices the options name, probed (the sound module loaded for them). None,
// after reporting it, when there are none, with `status` set: exitStatus(kNoDisplayOrSound), or
// exitStatus(kBadInputOrOutput) when the sound module itself is missing. A live run's greetings
// draw fresh random numbers.
std::optional<platform::LiveSound> probeLiveAudio(const LaunchOptions& options, int& status);

// The app's audio back end for the life of the object.
class InstalledAudio {
 public:
  explicit InstalledAudio(std::shared_ptr<platform::AudioBackend> backend);
  ~InstalledAudio();
  InstalledAudio(const InstalledAudio&) = delete;
  InstalledAudio& operator=(const InstalledAudio&) = delete;
};

struct AppViews {
  std::shared_ptr<UIWindow> window;  // null: no window
  std::shared_ptr<CharacterAnimation> glView;  // null: no character view
};

// Runs the app on the installed back end, in the one order of every host: the greeting armed
// when asked; the delegate launched (analytics session started, audio set up and started, the
// character's animation started); `afterLaunch` hooks the host's own sources in; the run loop
// until the application terminates; then the analytics session is ended and uploaded, and only
// after that is audio stopped. `realTimeWarmUp` false (virtual time) skips the audio set-up's
// warm-up for a real-time deadline.
void runApp(const LaunchOptions& options, const AppViews& views,
            const std::function<void(UIApplication&)>& afterLaunch, bool realTimeWarmUp = true);
