#pragma once
// What the window answers to, as --help (and so the manual page) lists it under "In the window".
// A key the window learns gets its line here.
struct WindowKeyHelp {
  const char* keys;
  const char* action;
};

inline constexpr WindowKeyHelp kWindowKeyHelp[] = {
    {"speak", "the selected guinea pig repeats it in its voice"},
    {"drag sideways", "more than half the width: the next (drag left) or previous (drag right) character"},
    {"Left, Right, 1-4", "select a character, as a drag would"},
    {"T", "the tuning overlay: live engine values; tap a band to set pitch, tempo, thresholds"},
    {"M", "microphone off (a red badge shows) and on again"},
    {"R", "record a video of the window into Videos/Quibblers; R again saves it"},
    {"?, F1", "a card with every key and gesture"},
    {"F11", "full screen on and off"},
    {"Esc, Q, Ctrl-C", "quit (the usage session is closed first); Esc first closes the help card"},
    {"buttons", "over the picture, each does what its key does"},
};
