#include "Upload.h"

#include <charconv>
#include <cstdlib>
#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

constexpr std::string_view kField = "beacons=";

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> formDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = hexDigit(text[i + 1]);
      const int low = hexDigit(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A problem with one value, named by where it is ("beacons[2].time_started").
struct ShapeError {
  std::string message;
};

[[noreturn]] void refuse(const std::string& where, const std::string& what) { throw ShapeError{where + " " + what}; }

// PostgreSQL cannot keep a NUL in text; the replacement character keeps the rest readable.
std::string withoutNul(std::string text) {
  for (size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at + 3)) {
    text.replace(at, 1, "\xEF\xBF\xBD");
  }
  return text;
}

std::string text(const json& object, const char* key, const std::string& where, bool required) {
  const auto it = object.find(key);
  if (it == object.end()) {
    if (required) refuse(where + "." + key, "is missing");
    return "";
  }
  if (!it->is_string()) refuse(where + "." + key, "is not a text");
  return withoutNul(it->get<std::string>());
}

std::optional<std::int64_t> integer(const json& object, const char* key, const std::string& where, bool required) {
  const std::string value = text(object, key, where, required);
  if (value.empty()) {
    if (required) refuse(where + "." + key, "is empty");
    return std::nullopt;
  }
  std::int64_t number = 0;
  const auto [end, status] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (status != std::errc() || end != value.data() + value.size()) refuse(where + "." + key, "is not a whole number");
  return number;
}

std::optional<std::int64_t> seconds(const json& object, const char* key, const std::string& where, bool required) {
  const auto value = integer(object, key, where, required);
  if (value && *value < 0) refuse(where + "." + key, "is before 1970");
  return value;
}

std::optional<double> degrees(const json& object, const char* key, const std::string& where, double limit) {
  const std::string value = text(object, key, where, false);
  if (value.empty()) return std::nullopt;
  char* end = nullptr;
  const double number = std::strtod(value.c_str(), &end);
  if (end != value.c_str() + value.size() || !(number >= -limit && number <= limit)) {
    refuse(where + "." + key, "is not a coordinate");
  }
  return number;
}

Session decodeSession(const json& beacon, const std::string& where) {
  if (!beacon.is_object()) refuse(where, "is not an object");
  Session session;
  session.appId = *integer(beacon, "id", where, true);
  session.started = *seconds(beacon, "time_started", where, true);
  session.stopped = seconds(beacon, "time_stopped", where, false);
  session.latitude = degrees(beacon, "latitude", where, 90);
  session.longitude = degrees(beacon, "longitude", where, 180);
  const auto subs = beacon.find("subbeacons");
  if (subs == beacon.end()) return session;
  if (!subs->is_array()) refuse(where + ".subbeacons", "is not a list");
  for (size_t i = 0; i < subs->size(); ++i) {
    const json& sub = (*subs)[i];
    const std::string at = where + ".subbeacons[" + std::to_string(i) + "]";
    if (!sub.is_object()) refuse(at, "is not an object");
    SubSession out;
    out.appId = *integer(sub, "id", at, true);
    out.name = text(sub, "name", at, true);
    const std::string timed = text(sub, "is_session", at, false);
    if (timed != "" && timed != "0" && timed != "1") refuse(at + ".is_session", "is not 0 or 1");
    out.timed = timed == "1";
    out.started = *seconds(sub, "time_started", at, true);
    out.stopped = seconds(sub, "time_stopped", at, false);
    session.subSessions.push_back(std::move(out));
  }
  return session;
}

}  // namespace

std::optional<std::string> uploadDocument(std::string_view body, std::string& error) {
  if (body.substr(0, kField.size()) != kField) {
    error = "the body does not start with \"beacons=\"";
    return std::nullopt;
  }
  std::string_view value = body.substr(kField.size());
  // A document sent as it is starts with its brace; a form-encoded one with "%7B".
  if (!value.empty() && value.front() == '{') return std::string(value);
  value = value.substr(0, value.find('&'));
  auto decoded = formDecode(value);
  if (!decoded) error = "the \"beacons\" field has a broken %-escape";
  return decoded;
}

std::optional<Upload> decodeUpload(std::string_view document, std::string& error) {
  json root;
  try {
    root = json::parse(document);
  } catch (const json::exception& e) {
    error = std::string("not JSON: ") + e.what();
    return std::nullopt;
  }
  try {
    if (!root.is_object()) refuse("the document", "is not an object");
    Upload upload;
    upload.deviceId = text(root, "iphone_id", "the document", true);
    upload.deviceModel = text(root, "device_model", "the document", false);
    upload.deviceOs = text(root, "device_os", "the document", false);
    upload.applicationCode = text(root, "application_code", "the document", true);
    upload.appVersion = text(root, "app_version", "the document", false);
    const auto beacons = root.find("beacons");
    if (beacons == root.end() || !beacons->is_array()) refuse("the document", "has no \"beacons\" list");
    upload.sessions.reserve(beacons->size());
    for (size_t i = 0; i < beacons->size(); ++i) {
      upload.sessions.push_back(decodeSession((*beacons)[i], "beacons[" + std::to_string(i) + "]"));
    }
    return upload;
  } catch (const ShapeError& e) {
    error = e.message;
    return std::nullopt;
  }
}
