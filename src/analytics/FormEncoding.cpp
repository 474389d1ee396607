#include "FormEncoding.h"

std::string formEncode(std::string_view value) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(value.size() * 2);
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
    if (unreserved) {
      out += c;
    } else {
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 0x0F];
    }
  }
  return out;
}

size_t utf16Length(std::string_view utf8) {
  size_t units = 0;
  size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    size_t length = 1;
    if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    }
    bool valid = length > 1 && i + length <= utf8.size();
    for (size_t k = 1; valid && k < length; ++k) {
      valid = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
    }
    if (length > 1 && !valid) length = 1;
    units += length == 4 ? 2 : 1;  // four-byte sequences lie outside the BMP: a surrogate pair
    i += length;
  }
  return units;
}

namespace {

// Length of the valid sequence at `i`, or 0 with `subpart` set to the bytes that one U+FFFD
// stands for.
size_t validSequenceAt(std::string_view text, size_t i, size_t& subpart) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    subpart = 1;
    return 0;
  }
  for (size_t k = 1; k < length; ++k) {
    const bool inRange = i + k < text.size() && byte(i + k) >= (k == 1 ? low : 0x80) &&
                         byte(i + k) <= (k == 1 ? high : 0xBF);
    if (!inRange) {
      subpart = k;
      return 0;
    }
  }
  return length;
}

}  // namespace

std::string withValidUtf8(std::string_view text) {
  std::string out;
  size_t copied = 0;  // text before this is in `out` (only once a repair was needed)
  bool repaired = false;
  size_t i = 0;
  while (i < text.size()) {
    size_t subpart = 0;
    if (const size_t length = validSequenceAt(text, i, subpart)) {
      i += length;
      continue;
    }
    if (!repaired) {
      out.reserve(text.size() + 16);
      repaired = true;
    }
    out.append(text.substr(copied, i - copied));
    out += "\xEF\xBF\xBD";
    i += subpart;
    copied = i;
  }
  if (!repaired) return std::string(text);
  out.append(text.substr(copied));
  return out;
}
