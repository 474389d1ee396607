#include "UploadReport.h"

#include <ctime>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {

using json = nlohmann::json;

std::string text(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end()) return "";
  return it->is_string() ? it->get<std::string>() : it->dump();
}

// "1700000000" as "2023-11-14 22:13:20"; anything else as it is; empty as "-".
std::string when(const std::string& seconds) {
  if (seconds.empty()) return "-";
  char* end = nullptr;
  const long long value = std::strtoll(seconds.c_str(), &end, 10);
  if (!end || *end != '\0') return seconds;
  const std::time_t t = static_cast<std::time_t>(value);
  std::tm utc{};
  if (!gmtime_r(&t, &utc)) return seconds;
  char buffer[32];
  std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &utc);
  return buffer;
}

std::string span(const std::string& started, const std::string& stopped) {
  std::string out = when(started) + " - " + (stopped.empty() ? "still running" : when(stopped));
  char* end1 = nullptr;
  char* end2 = nullptr;
  const long long a = std::strtoll(started.c_str(), &end1, 10);
  const long long b = std::strtoll(stopped.c_str(), &end2, 10);
  if (!started.empty() && !stopped.empty() && *end1 == '\0' && *end2 == '\0' && b >= a) {
    out += " (" + std::to_string(b - a) + " s)";
  }
  return out;
}

}  // namespace

std::optional<std::string> describeUpload(const std::string& document, std::string& error) {
  json upload;
  try {
    upload = json::parse(document);
  } catch (const json::exception& e) {
    error = std::string("not JSON: ") + e.what();
    return std::nullopt;
  }
  if (!upload.is_object() || !upload.contains("beacons") || !upload["beacons"].is_array()) {
    error = "no \"beacons\" list in the document";
    return std::nullopt;
  }
  std::ostringstream out;
  out << "application " << text(upload, "application_code") << " version " << text(upload, "app_version")
      << " on " << text(upload, "device_model") << ", system " << text(upload, "device_os") << ", device "
      << text(upload, "iphone_id") << ": " << upload["beacons"].size() << " session(s)\n";
  for (const auto& beacon : upload["beacons"]) {
    out << "  session " << text(beacon, "id") << ": "
        << span(text(beacon, "time_started"), text(beacon, "time_stopped"));
    const std::string latitude = text(beacon, "latitude");
    if (!latitude.empty()) out << ", at " << latitude << ", " << text(beacon, "longitude");
    out << "\n";
    const auto subs = beacon.find("subbeacons");
    if (subs == beacon.end() || !subs->is_array()) continue;
    for (const auto& sub : *subs) {
      out << "    \"" << text(sub, "name") << "\"" << (text(sub, "is_session") == "1" ? " (timed)" : "") << ": "
          << span(text(sub, "time_started"), text(sub, "time_stopped")) << "\n";
    }
  }
  return out.str();
}
