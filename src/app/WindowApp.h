#pragma once
// The app on the desktop: a window showing the character, live sound from the chosen devices.
#include <memory>
#include <string>

#include "AppSettings.h"
#include "LaunchOptions.h"
#include "DuplexAudioBackend.h"

// Runs until the window is closed, Q/Esc, Ctrl-C or SIGTERM. `audio` is the live back end,
// already chosen (M mutes its microphone). `stored` is what `settings` held at launch (the
// command line wins over it); `settingsUsable` is false when the file could not be read, which
// keeps it as it is until the person changes something. Returns the process exit status.
int runWindowApp(const LaunchOptions& options, std::shared_ptr<platform::DuplexAudioBackend> audio,
                 SettingsFile& settings, const AppSettings& stored, bool settingsUsable);
