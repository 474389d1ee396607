#pragma once
// How times and lengths read on the dashboard and in the terminal report.
#include <cstdint>
#include <string>

// "2023-11-14" for a day number (days since 1970-01-01, UTC).
std::string dayText(std::int64_t day);
// "2023-11-14 22:13" for seconds since 1970 (UTC).
std::string minuteText(std::int64_t seconds);
// "42 s", "3 min 5 s", "2 h 4 min".
std::string lengthText(double seconds);
