#include "UploadReport.h"

#include <ctime>
#include <sstream>

#include "Formatting.h"

namespace {

// 1700000000 as "2023-11-14 22:13:20".
std::string when(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc{};
  char buffer[32];
  if (!gmtime_r(&t, &utc) || std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &utc) == 0) {
    return std::to_string(seconds);
  }
  return buffer;
}

std::string span(std::int64_t started, const std::optional<std::int64_t>& stopped) {
  std::string out = when(started) + " - " + (stopped ? when(*stopped) : "still running");
  if (stopped && *stopped >= started) out += " (" + std::to_string(*stopped - started) + " s)";
  return out;
}

std::string degrees(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

}  // namespace

std::string describeUpload(const Upload& upload) {
  std::ostringstream out;
  out << "application " << terminalText(upload.applicationCode) << " version " << terminalText(upload.appVersion)
      << " on " << terminalText(upload.deviceModel) << ", system " << terminalText(upload.deviceOs) << ", device "
      << terminalText(upload.deviceId) << ": " << upload.sessions.size() << " session(s)\n";
  for (const Session& s : upload.sessions) {
    out << "  session " << s.appId << ": " << span(s.started, s.stopped);
    if (s.latitude) out << ", at " << degrees(*s.latitude) << ", " << (s.longitude ? degrees(*s.longitude) : "");
    out << "\n";
    for (const SubSession& sub : s.subSessions) {
      out << "    \"" << terminalText(sub.name) << "\"" << (sub.timed ? " (timed)" : "") << ": "
          << span(sub.started, sub.stopped) << "\n";
    }
  }
  return out.str();
}

std::optional<std::string> describeUpload(std::string_view document, std::string& error) {
  const auto upload = decodeUpload(document, error);
  if (!upload) return std::nullopt;
  return describeUpload(*upload);
}
