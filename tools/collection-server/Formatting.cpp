#include "Formatting.h"

#include <cmath>
#include <ctime>

namespace {
std::string utc(std::int64_t seconds, const char* format) {
  const auto t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (!gmtime_r(&t, &tm)) return "?";
  char buffer[40];
  if (std::strftime(buffer, sizeof buffer, format, &tm) == 0) return "?";
  return buffer;
}

// The length of the UTF-8 character at text[at], or 0 when the bytes there are not one.
size_t characterLength(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                                                        : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  // Overlong forms (E0 80 9B is ESC in disguise) and code points above U+10FFFF are not characters.
  const auto second = static_cast<unsigned char>(text[at + 1 < text.size() ? at + 1 : at]);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90)) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

void hexEscape(std::string& out, const char* prefix, unsigned value) {
  static const char* const kHex = "0123456789abcdef";
  out += prefix;
  out += kHex[(value >> 4) & 15];
  out += kHex[value & 15];
}
}  // namespace

std::string dayText(std::int64_t day) {
  if (day > INT64_MAX / 86400 || day < INT64_MIN / 86400) return "?";
  return utc(day * 86400, "%Y-%m-%d");
}

std::string minuteText(std::int64_t seconds) { return utc(seconds, "%Y-%m-%d %H:%M"); }

std::string lengthText(double seconds) {
  if (!(seconds < 1e15)) return "very long";
  const auto whole = static_cast<long long>(std::llround(seconds));
  if (whole < 60) return std::to_string(whole) + " s";
  if (whole < 3600) return std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
  return std::to_string(whole / 3600) + " h " + std::to_string(whole % 3600 / 60) + " min";
}

std::string shortened(std::string_view text, size_t characters) {
  size_t at = 0;
  for (size_t count = 0; at < text.size(); ++count) {
    if (count == characters) return std::string(text.substr(0, at)) + "\xE2\x80\xA6";
    const size_t length = characterLength(text, at);
    at += length == 0 ? 1 : length;
  }
  return std::string(text);
}

std::string terminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const size_t length = characterLength(text, at);
    if (length == 0) {
      hexEscape(out, "\\x", byte);
      ++at;
    } else if (byte < 0x20 || byte == 0x7f) {
      hexEscape(out, "\\x", byte);
      ++at;
    } else if (byte == '\\') {
      out += "\\\\";
      ++at;
    } else if (byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
      hexEscape(out, "\\u00", static_cast<unsigned char>(text[at + 1]));
      at += 2;
    } else {
      out.append(text.substr(at, length));
      at += length;
    }
  }
  return out;
}
