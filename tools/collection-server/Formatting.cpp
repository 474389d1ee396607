#include "Formatting.h"

#include <cmath>
#include <ctime>

namespace {
std::string utc(std::int64_t seconds, const char* format) {
  const auto t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (!gmtime_r(&t, &tm)) return "?";
  char buffer[40];
  std::strftime(buffer, sizeof buffer, format, &tm);
  return buffer;
}
}  // namespace

std::string dayText(std::int64_t day) { return utc(day * 86400, "%Y-%m-%d"); }

std::string minuteText(std::int64_t seconds) { return utc(seconds, "%Y-%m-%d %H:%M"); }

std::string lengthText(double seconds) {
  const auto whole = static_cast<long long>(std::llround(seconds));
  if (whole < 60) return std::to_string(whole) + " s";
  if (whole < 3600) return std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
  return std::to_string(whole / 3600) + " h " + std::to_string(whole % 3600 / 60) + " min";
}
