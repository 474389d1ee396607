#pragma once
// The app launched on the offline audio device, in virtual time: the --mic recording is the
// microphone, and the character's answer goes to the requested files (--speaker, --frames,
// --video). The same input always gives the same output.
#include "LaunchOptions.h"

// Returns the process exit status.
int runHeadlessAnswer(const LaunchOptions& options);
