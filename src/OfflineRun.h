#pragma once
// Runs the app's audio on the offline device: the --mic recording in, the --speaker file out.
#include "LaunchOptions.h"

// Returns the process exit status.
int runOffline(const LaunchOptions& options);
