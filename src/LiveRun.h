#pragma once
// Runs the app's audio on the live sound devices in the terminal until Ctrl-C, and lists them.
#include "AppSettings.h"
#include "LaunchOptions.h"

// Both return the process exit status. `stored` gives the remembered character and tuning,
// which the command line overrides.
int runLive(const LaunchOptions& options, const AppSettings& stored);
int listDevices();
