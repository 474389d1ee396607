#pragma once
// How times, lengths and the app's texts read on the dashboard and in the terminal.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// "2023-11-14" for a day number (days since 1970-01-01, UTC); "?" when out of range.
std::string dayText(std::int64_t day);
// "2023-11-14 22:13" for seconds since 1970 (UTC); "?" when out of range.
std::string minuteText(std::int64_t seconds);
// "42 s", "3 min 5 s", "2 h 4 min".
std::string lengthText(double seconds);

// At most `characters` UTF-8 characters, a cut text ending in "…"; never splits a character.
std::string shortened(std::string_view text, size_t characters);

// Safe to write to a terminal: control characters (C0, DEL and C1) as \xNN or \u00NN, bytes
// that are not UTF-8 as \xNN, and the backslash doubled so the escapes cannot be forged.
std::string terminalText(std::string_view text);
