#pragma once
// Runs the app's audio on the live sound devices in the terminal until Ctrl-C, and lists them.
#include "LaunchOptions.h"

// Both return the process exit status.
int runLive(const LaunchOptions& options);
int listDevices();
