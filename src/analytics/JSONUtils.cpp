#include "JSONUtils.h"

#include <array>
#include <charconv>
#include <cmath>

namespace {

// For each byte: the second character of its escape, or 0 when it is copied as it is.
constexpr std::array<char, 256> escapeTable = [] {
  std::array<char, 256> table{};
  table['"'] = '"';
  table['\\'] = '\\';
  table['\b'] = 'b';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\f'] = 'f';
  table['\r'] = 'r';
  return table;
}();

template <typename T>
void appendInteger(std::string& out, T value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

// Plain notation: sign, integer digits, and a fraction only when there is one; never an exponent.
bool appendDouble(std::string& out, double value) {
  if (!std::isfinite(value)) return false;
  if (value == 0.0) value = 0.0;  // no "-0"
  char digits[400];  // the longest fixed form of a double is 309 integer digits plus sign
  const auto result = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed);
  if (result.ec != std::errc()) return false;
  out.append(digits, result.ptr);
  return true;
}

bool appendNumber(std::string& out, const JSONNumber& number) {
  switch (number.type()) {
    case JSONNumber::Type::signedChar:
      if (number.longLongValue() == 1) {
        out += jsonTrueString;
      } else if (number.longLongValue() == 0) {
        out += jsonFalseString;
      } else {
        appendInteger(out, number.longLongValue());
      }
      return true;
    case JSONNumber::Type::longLong:
      appendInteger(out, number.longLongValue());
      return true;
    case JSONNumber::Type::unsignedLongLong:
      appendInteger(out, number.unsignedLongLongValue());
      return true;
    case JSONNumber::Type::double_:
      return appendDouble(out, number.doubleValue());
  }
  return false;
}

// Inside a container an unsupported value is written as null, so the document stays valid.
void appendMember(std::string& out, const JSONValue& value, int level) {
  if (!JSONUtils::appendValue(out, value, level)) out += jsonNullString;
}

}  // namespace

void JSONUtils::appendString(std::string& out, std::string_view text) {
  out += jsonStringDelimiterString;
  size_t run = 0;  // start of the bytes not yet copied
  for (size_t i = 0; i < text.size(); ++i) {
    const char escaped = escapeTable[static_cast<unsigned char>(text[i])];
    if (!escaped) continue;
    out.append(text.data() + run, i - run);
    out += '\\';
    out += escaped;
    run = i + 1;
  }
  out.append(text.data() + run, text.size() - run);
  out += jsonStringDelimiterString;
}

void JSONUtils::appendDictionary(std::string& out, const JSONDictionary& dictionary) {
  out += jsonObjectStartString;
  bool first = true;
  for (const auto& [key, value] : dictionary) {
    if (!first) out += jsonValueSeparatorString;
    first = false;
    out += ' ';
    appendString(out, key);
    out += ' ';
    out += jsonKeyValueSeparatorString;
    out += ' ';
    appendMember(out, value, 0);
  }
  out += jsonObjectEndString;
}

void JSONUtils::appendArray(std::string& out, const JSONArray& array, int level) {
  out += jsonArrayStartString;
  for (size_t i = 0; i < array.size(); ++i) {
    if (i > 0) {
      out += jsonValueSeparatorString;
      out += ' ';
    }
    appendMember(out, array[i], level);
  }
  out += jsonArrayEndString;
}

bool JSONUtils::appendValue(std::string& out, const JSONValue& value, int level) {
  const auto& storage = value.storage();
  if (const auto* text = std::get_if<std::string>(&storage)) {
    appendString(out, *text);
  } else if (const auto* dictionary = std::get_if<JSONDictionary>(&storage)) {
    appendDictionary(out, *dictionary);
  } else if (const auto* array = std::get_if<JSONArray>(&storage)) {
    appendArray(out, *array, level);
  } else if (std::holds_alternative<JSONNull>(storage)) {
    out += jsonNullString;
  } else if (const auto* number = std::get_if<JSONNumber>(&storage)) {
    const size_t mark = out.size();
    if (!appendNumber(out, *number)) {
      out.resize(mark);
      return false;
    }
  } else {
    return false;
  }
  return true;
}

std::string JSONUtils::NSDictionaryToJSONString(const JSONDictionary& dictionary) {
  std::string out;
  appendDictionary(out, dictionary);
  return out;
}

std::optional<std::string> JSONUtils::jsonStringForValue(const JSONValue& value, int level) {
  std::string out;
  if (!appendValue(out, value, level)) return std::nullopt;
  return out;
}

std::string JSONUtils::jsonStringForArray(const JSONArray& array, int level) {
  std::string out;
  appendArray(out, array, level);
  return out;
}

std::string JSONUtils::jsonStringForString(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  appendString(out, text);
  return out;
}

void JSONDictionary::set(std::string key, JSONValue value) {
  for (auto& entry : entries_) {
    if (entry.first == key) {
      entry.second = std::move(value);
      return;
    }
  }
  entries_.emplace_back(std::move(key), std::move(value));
}

const JSONValue* JSONDictionary::find(const std::string& key) const {
  for (const auto& entry : entries_) {
    if (entry.first == key) return &entry.second;
  }
  return nullptr;
}

const std::string& JSONDictionary::text(const std::string& key) const {
  static const std::string empty;
  const JSONValue* value = find(key);
  const std::string* text = value ? value->get<std::string>() : nullptr;
  return text ? *text : empty;
}
