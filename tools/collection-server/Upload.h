#pragma once
// One upload as the collector keeps it: the device facts sent once per upload, and each session
// with its sub-sessions. Times are whole seconds since 1970 (UTC).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SubSession {
  std::int64_t appId = 0;  // the app's own sub-session number
  std::string name;
  bool timed = false;
  std::int64_t started = 0;
  std::optional<std::int64_t> stopped;
};

struct Session {
  std::int64_t appId = 0;  // the app's own session number
  std::int64_t started = 0;
  std::optional<std::int64_t> stopped;
  std::optional<double> latitude;
  std::optional<double> longitude;
  std::vector<SubSession> subSessions;
};

struct Upload {
  std::string deviceId;
  std::string deviceModel;
  std::string deviceOs;
  std::string applicationCode;
  std::string appVersion;
  std::vector<Session> sessions;
};

// What one upload may hold. The app sends at most 25 sessions at a time; these bound the memory
// an upload can take whatever its body holds.
struct UploadLimits {
  size_t sessions = 100;
  size_t subSessions = 10000;  // in the whole upload
  size_t textBytes = 256;      // each text value, after JSON unescaping
  size_t depth = 16;           // nesting of values the collector does not use
};

// The JSON document in a request body "beacons=<document>", the document either form-encoded
// or sent as it is; none (and `error` set) when the body has no such field.
std::optional<std::string> uploadDocument(std::string_view body, std::string& error);
// The same, decoding in place: the document is left in the body's own bytes (decoding only
// shortens), so a large body is never held twice.
std::optional<std::string_view> toUploadDocument(char* body, size_t size, std::string& error);

// The upload in a document, or none (and `error` set) when it is not JSON, not the shape the app
// sends (five device texts and a "beacons" list of sessions whose values are texts), or beyond
// `limits` (`tooLarge` set then). Reads the document as a stream: no tree of it is built.
std::optional<Upload> decodeUpload(std::string_view document, std::string& error, bool* tooLarge = nullptr,
                                   const UploadLimits& limits = {});
