#pragma once
// The app on the desktop: a window showing the character, live sound from the chosen devices.
#include <memory>
#include <string>

#include "LaunchOptions.h"
#include "DuplexAudioBackend.h"

// Runs until the window is closed, Q/Esc, Ctrl-C or SIGTERM. `audio` is the live back end,
// already chosen (M mutes its microphone). Returns the process exit status.
int runWindowApp(const LaunchOptions& options, std::shared_ptr<platform::DuplexAudioBackend> audio);
