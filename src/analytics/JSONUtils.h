#pragma once
// The JSON encoder of the usage reports: one line, a fixed pattern of blanks (part of what goes
// on the wire), seven escapes and nothing else escaped, numbers in plain notation.
#include <optional>
#include <string>
#include <string_view>

#include "JSONValue.h"

inline constexpr std::string_view jsonNullString = "null";
inline constexpr std::string_view jsonFalseString = "false";
inline constexpr std::string_view jsonTrueString = "true";
inline constexpr std::string_view jsonStringDelimiterString = "\"";
inline constexpr std::string_view jsonValueSeparatorString = ",";
inline constexpr std::string_view jsonKeyValueSeparatorString = ":";
inline constexpr std::string_view jsonArrayEndString = "]";
inline constexpr std::string_view jsonArrayStartString = "[";
inline constexpr std::string_view jsonObjectEndString = "}";
inline constexpr std::string_view jsonObjectStartString = "{";

class JSONUtils {
 public:
  JSONUtils() = delete;

  // `{ "a" : "1", "b" : "2"}`; `{}` when empty.
  static std::string NSDictionaryToJSONString(const JSONDictionary& dictionary);
  // Any supported value; none for an unsupported one. The level never changes the output.
  static std::optional<std::string> jsonStringForValue(const JSONValue& value, int level);
  // `["x", "y"]`; `[]` when empty.
  static std::string jsonStringForArray(const JSONArray& array, int level);
  // The text quoted, with `"` `\` backspace, tab, line feed, form feed and carriage return
  // escaped; every other byte (controls and non-ASCII included) copied unchanged.
  static std::string jsonStringForString(std::string_view text);

  // The same encodings appended to `out` (the upload builds one document this way).
  static void appendDictionary(std::string& out, const JSONDictionary& dictionary);
  static bool appendValue(std::string& out, const JSONValue& value, int level);
  static void appendArray(std::string& out, const JSONArray& array, int level);
  static void appendString(std::string& out, std::string_view text);
};
