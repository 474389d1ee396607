#include "Upload.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
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

// Decodes text[0, size) into its own start; the decoded length, or none for a broken escape.
std::optional<size_t> formDecodeInPlace(char* text, size_t size) {
  size_t out = 0;
  for (size_t i = 0; i < size; ++i) {
    if (text[i] == '+') {
      text[out++] = ' ';
    } else if (text[i] == '%') {
      if (i + 2 >= size) return std::nullopt;
      const int high = hexDigit(text[i + 1]);
      const int low = hexDigit(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      text[out++] = static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      text[out++] = text[i];
    }
  }
  return out;
}

// A problem with one value, named by where it is ("beacons[2].time_started").
struct ShapeError {
  std::string message;
  bool tooLarge = false;
};

[[noreturn]] void refuse(const std::string& where, const std::string& what) { throw ShapeError{where + " " + what}; }

// PostgreSQL cannot keep a NUL in text; the replacement character keeps the rest readable.
std::string withoutNul(std::string text) {
  for (size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at + 3)) {
    text.replace(at, 1, "\xEF\xBF\xBD");
  }
  return text;
}

// The texts of one JSON object the collector reads, by key; other keys are skipped.
struct Fields {
  std::vector<std::pair<const char*, std::optional<std::string>>> values;

  explicit Fields(std::initializer_list<const char*> keys) {
    for (const char* k : keys) values.emplace_back(k, std::nullopt);
  }
  std::optional<std::string>* find(const std::string& key) {
    for (auto& [k, v] : values) {
      if (key == k) return &v;
    }
    return nullptr;
  }
  void clear() {
    for (auto& entry : values) entry.second.reset();
  }
  const std::optional<std::string>& get(const char* key) const {
    for (const auto& [k, v] : values) {
      if (std::strcmp(k, key) == 0) return v;
    }
    static const std::optional<std::string> none;
    return none;
  }

  std::string text(const char* key, const std::string& where, bool required) const {
    const auto& value = get(key);
    if (!value) {
      if (required) refuse(where + "." + key, "is missing");
      return "";
    }
    return withoutNul(*value);
  }

  std::optional<std::int64_t> integer(const char* key, const std::string& where, bool required) const {
    const std::string value = text(key, where, required);
    if (value.empty()) {
      if (required) refuse(where + "." + key, "is empty");
      return std::nullopt;
    }
    std::int64_t number = 0;
    const auto [end, status] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (status != std::errc() || end != value.data() + value.size()) refuse(where + "." + key, "is not a whole number");
    return number;
  }

  std::optional<std::int64_t> seconds(const char* key, const std::string& where, bool required) const {
    const auto value = integer(key, where, required);
    if (value && *value < 0) refuse(where + "." + key, "is before 1970");
    return value;
  }

  std::optional<double> degrees(const char* key, const std::string& where, double limit) const {
    const std::string value = text(key, where, false);
    if (value.empty()) return std::nullopt;
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    if (end != value.c_str() + value.size() || !(number >= -limit && number <= limit)) {
      refuse(where + "." + key, "is not a coordinate");
    }
    return number;
  }
};

// Builds the upload straight from the parser's events. The parser keeps its own nesting on the
// heap, not the stack, and the values the collector does not read are only counted through, so
// neither a deep nor a large document costs more than the bounded upload itself.
class UploadReader final : public nlohmann::json_sax<json> {
 public:
  explicit UploadReader(const UploadLimits& limits) : limits_(limits) {}

  Upload upload;
  std::optional<ShapeError> error;

  bool null() override { return scalar(); }
  bool boolean(bool) override { return scalar(); }
  bool number_integer(number_integer_t) override { return scalar(); }
  bool number_unsigned(number_unsigned_t) override { return scalar(); }
  bool number_float(number_float_t, const string_t&) override { return scalar(); }
  bool binary(binary_t&) override { return scalar(); }

  bool string(string_t& value) override {
    if (skipping_ > 0 || !slot_) return scalar();
    if (value.size() > limits_.textBytes) {
      return fail(where() + "." + key_, "is longer than " + std::to_string(limits_.textBytes) + " bytes");
    }
    *slot_ = std::move(value);
    slot_ = nullptr;
    return true;
  }

  bool start_object(std::size_t) override {
    if (skipping_ > 0 || expectingOther()) return enterSkipped();
    switch (level_) {
      case Level::Start: level_ = Level::Root; return true;
      case Level::Sessions:
        if (upload.sessions.size() == limits_.sessions) {
          return tooLarge("the upload has more than " + std::to_string(limits_.sessions) + " sessions");
        }
        session_.clear();
        upload.sessions.emplace_back();
        level_ = Level::Session;
        return true;
      case Level::SubSessions:
        if (subSessions_ == limits_.subSessions) {
          return tooLarge("the upload has more than " + std::to_string(limits_.subSessions) + " sub-sessions");
        }
        ++subSessions_;
        sub_.clear();
        level_ = Level::SubSession;
        return true;
      default: return notA("an object");
    }
  }

  bool end_object() override {
    if (skipping_ > 0) return leaveSkipped();
    try {
      switch (level_) {
        case Level::Root: finishRoot(); level_ = Level::Done; return true;
        case Level::Session: finishSession(); level_ = Level::Sessions; return true;
        case Level::SubSession: finishSubSession(); level_ = Level::SubSessions; return true;
        default: return true;
      }
    } catch (const ShapeError& e) {
      error = e;
      return false;
    }
  }

  bool start_array(std::size_t) override {
    if (skipping_ > 0 || expectingOther()) return enterSkipped();
    if (level_ == Level::Root && key_ == "beacons") {
      sawSessions_ = true;
      level_ = Level::Sessions;
      return true;
    }
    if (level_ == Level::Session && key_ == "subbeacons") {
      level_ = Level::SubSessions;
      return true;
    }
    if (level_ == Level::Start) return fail("the document", "is not an object");
    if (level_ == Level::Root) return fail("the document", "has no \"beacons\" list");
    if (slot_) return notA("a text");
    return notA("an object");
  }

  bool end_array() override {
    if (skipping_ > 0) return leaveSkipped();
    level_ = level_ == Level::Sessions ? Level::Root : Level::Session;
    return true;
  }

  bool key(string_t& name) override {
    if (skipping_ > 0) return true;
    key_ = std::move(name);
    other_ = false;
    slot_ = nullptr;
    Fields* fields = level_ == Level::Root ? &root_ : level_ == Level::Session ? &session_ : &sub_;
    slot_ = fields->find(key_);
    // The lists are read where they are; every other key is a value to step over.
    if (!slot_ && !(level_ == Level::Root && key_ == "beacons") && !(level_ == Level::Session && key_ == "subbeacons")) {
      other_ = true;
    }
    if (level_ == Level::Root && key_ == "beacons") sawSessions_ = false;
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    error = ShapeError{std::string("not JSON: ") + e.what()};
    return false;
  }

 private:
  enum class Level { Start, Root, Sessions, Session, SubSessions, SubSession, Done };

  std::string where() const {
    if (level_ == Level::Root || level_ == Level::Start) return "the document";
    std::string at = "beacons[" + std::to_string(upload.sessions.size() - 1) + "]";
    if (level_ == Level::SubSession) at += ".subbeacons[" + std::to_string(upload.sessions.back().subSessions.size()) + "]";
    return at;
  }

  bool fail(const std::string& where, const std::string& what) {
    error = ShapeError{where + " " + what};
    return false;
  }
  bool tooLarge(const std::string& what) {
    error = ShapeError{what, true};
    return false;
  }
  bool notA(const char* what) {
    if (level_ == Level::Start) return fail("the document", "is not an object");
    if (slot_) return fail(where() + "." + key_, "is not a text");
    if (level_ == Level::Root) return fail("the document", "has no \"beacons\" list");
    if (level_ == Level::Session) return fail(where() + ".subbeacons", "is not a list");
    if (level_ == Level::Sessions) return fail("beacons[" + std::to_string(upload.sessions.size()) + "]", std::string("is not ") + what);
    return fail(where() + ".subbeacons[" + std::to_string(upload.sessions.back().subSessions.size()) + "]",
                std::string("is not ") + what);
  }

  bool expectingOther() const { return other_; }

  bool scalar() {
    if (skipping_ > 0) return true;
    if (other_) {
      other_ = false;
      return true;
    }
    if (level_ == Level::Root && key_ == "beacons") return fail("the document", "has no \"beacons\" list");
    if (level_ == Level::Session && key_ == "subbeacons") return fail(where() + ".subbeacons", "is not a list");
    return notA("an object");
  }

  bool enterSkipped() {
    if (level_ == Level::Start) return fail("the document", "is not an object");
    if (!other_ && skipping_ == 0) return notA("an object");
    if (++skipping_ > limits_.depth) return fail(where() + "." + key_, "is nested too deeply");
    return true;
  }
  bool leaveSkipped() {
    if (--skipping_ == 0) other_ = false;
    return true;
  }

  void finishRoot() {
    upload.deviceId = root_.text("iphone_id", "the document", true);
    upload.deviceModel = root_.text("device_model", "the document", false);
    upload.deviceOs = root_.text("device_os", "the document", false);
    upload.applicationCode = root_.text("application_code", "the document", true);
    upload.appVersion = root_.text("app_version", "the document", false);
    if (!sawSessions_) refuse("the document", "has no \"beacons\" list");
  }

  void finishSession() {
    const std::string at = where();
    Session& s = upload.sessions.back();
    s.appId = *session_.integer("id", at, true);
    s.started = *session_.seconds("time_started", at, true);
    s.stopped = session_.seconds("time_stopped", at, false);
    s.latitude = session_.degrees("latitude", at, 90);
    s.longitude = session_.degrees("longitude", at, 180);
  }

  void finishSubSession() {
    const std::string at = where();
    SubSession out;
    out.appId = *sub_.integer("id", at, true);
    out.name = sub_.text("name", at, true);
    const std::string timed = sub_.text("is_session", at, false);
    if (timed != "" && timed != "0" && timed != "1") refuse(at + ".is_session", "is not 0 or 1");
    out.timed = timed == "1";
    out.started = *sub_.seconds("time_started", at, true);
    out.stopped = sub_.seconds("time_stopped", at, false);
    upload.sessions.back().subSessions.push_back(std::move(out));
  }

  const UploadLimits& limits_;
  Level level_ = Level::Start;
  Fields root_{"iphone_id", "device_model", "device_os", "application_code", "app_version"};
  Fields session_{"id", "time_started", "time_stopped", "latitude", "longitude"};
  Fields sub_{"id", "name", "is_session", "time_started", "time_stopped"};
  std::string key_;
  std::optional<std::string>* slot_ = nullptr;
  bool other_ = false;       // the next value belongs to a key the collector does not read
  size_t skipping_ = 0;      // depth inside such a value
  bool sawSessions_ = false;
  size_t subSessions_ = 0;
};

// The parser collects each text and number whole before handing it over; refusing any token far
// beyond the text limit first keeps that buffer small too. A text's JSON form is at most six times
// its decoded length ("\u0041" is one byte).
std::optional<std::string> overlongToken(std::string_view document, const UploadLimits& limits) {
  const size_t longestText = 6 * limits.textBytes + 2;
  constexpr size_t kLongestBareToken = 64;  // numbers, true, false, null
  size_t run = 0;
  bool inText = false;
  for (size_t i = 0; i < document.size(); ++i) {
    const char c = document[i];
    if (inText) {
      ++run;
      if (c == '\\') {
        ++i;
        ++run;
      } else if (c == '"') {
        inText = false;
        run = 0;
        continue;
      }
      if (run > longestText) return "a text is longer than " + std::to_string(limits.textBytes) + " bytes";
    } else if (c == '"') {
      inText = true;
      run = 1;
    } else if (c == '{' || c == '}' || c == '[' || c == ']' || c == ',' || c == ':' || c == ' ' || c == '\t' ||
               c == '\n' || c == '\r') {
      run = 0;
    } else if (++run > kLongestBareToken) {
      return "not JSON: a value is longer than " + std::to_string(kLongestBareToken) + " characters";
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string_view> toUploadDocument(char* body, size_t size, std::string& error) {
  const std::string_view whole(body, size);
  if (whole.substr(0, kField.size()) != kField) {
    error = "the body does not start with \"beacons=\"";
    return std::nullopt;
  }
  char* value = body + kField.size();
  size_t length = size - kField.size();
  // A document sent as it is starts with its brace; a form-encoded one with "%7B".
  if (length > 0 && value[0] == '{') return std::string_view(value, length);
  if (const void* amp = std::memchr(value, '&', length)) length = static_cast<size_t>(static_cast<const char*>(amp) - value);
  const auto decoded = formDecodeInPlace(value, length);
  if (!decoded) {
    error = "the \"beacons\" field has a broken %-escape";
    return std::nullopt;
  }
  return std::string_view(value, *decoded);
}

std::optional<std::string> uploadDocument(std::string_view body, std::string& error) {
  std::string copy(body);
  const auto document = toUploadDocument(copy.data(), copy.size(), error);
  if (!document) return std::nullopt;
  return std::string(*document);
}

std::optional<Upload> decodeUpload(std::string_view document, std::string& error, bool* tooLarge,
                                   const UploadLimits& limits) {
  if (auto overlong = overlongToken(document, limits)) {
    error = std::move(*overlong);
    if (tooLarge) *tooLarge = false;
    return std::nullopt;
  }
  UploadReader reader(limits);
  const bool parsed = json::sax_parse(document.begin(), document.end(), &reader);
  if (tooLarge) *tooLarge = reader.error && reader.error->tooLarge;
  if (reader.error) {
    error = reader.error->message;
    return std::nullopt;
  }
  if (!parsed) {
    error = "not JSON";
    return std::nullopt;
  }
  return std::move(reader.upload);
}
