#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

#include "JSONUtils.h"

namespace {

std::string encode(const JSONValue& value) { return JSONUtils::jsonStringForValue(value, 0).value_or("<none>"); }

// The same value as nlohmann's ordered JSON, to compare a parsed document against.
nlohmann::ordered_json toNlohmann(const JSONValue& value) {
  const auto& storage = value.storage();
  if (const auto* text = std::get_if<std::string>(&storage)) return *text;
  if (const auto* array = std::get_if<JSONArray>(&storage)) {
    auto out = nlohmann::ordered_json::array();
    for (const auto& element : *array) out.push_back(toNlohmann(element));
    return out;
  }
  if (const auto* dictionary = std::get_if<JSONDictionary>(&storage)) {
    auto out = nlohmann::ordered_json::object();
    for (const auto& [key, element] : *dictionary) out[key] = toNlohmann(element);
    return out;
  }
  if (const auto* number = std::get_if<JSONNumber>(&storage)) {
    switch (number->type()) {
      case JSONNumber::Type::signedChar:
        if (number->longLongValue() == 0 || number->longLongValue() == 1) return number->longLongValue() == 1;
        return number->longLongValue();
      case JSONNumber::Type::longLong:
        return number->longLongValue();
      case JSONNumber::Type::unsignedLongLong:
        return number->unsignedLongLongValue();
      case JSONNumber::Type::double_:
        return number->doubleValue();
    }
  }
  return nullptr;
}

}  // namespace

TEST(JSONUtils, EmptyValues) {
  EXPECT_EQ(JSONUtils::jsonStringForString(""), "\"\"");
  EXPECT_EQ(JSONUtils::NSDictionaryToJSONString({}), "{}");
  EXPECT_EQ(JSONUtils::jsonStringForArray({}, 0), "[]");
  EXPECT_EQ(encode(JSONNull{}), "null");
}

TEST(JSONUtils, DictionarySpacingKeepsKeyOrder) {
  EXPECT_EQ(JSONUtils::NSDictionaryToJSONString({{"k", "v"}}), "{ \"k\" : \"v\"}");
  EXPECT_EQ(JSONUtils::NSDictionaryToJSONString({{"b", "2"}, {"a", "1"}, {"c", "3"}}),
            "{ \"b\" : \"2\", \"a\" : \"1\", \"c\" : \"3\"}");
}

TEST(JSONUtils, ListSpacing) {
  EXPECT_EQ(JSONUtils::jsonStringForArray({"x"}, 0), "[\"x\"]");
  EXPECT_EQ(JSONUtils::jsonStringForArray({"x", "y", "z"}, 0), "[\"x\", \"y\", \"z\"]");
  EXPECT_EQ(JSONUtils::jsonStringForArray({JSONDictionary{{"k", "v"}}}, 7), "[{ \"k\" : \"v\"}]");
}

TEST(JSONUtils, NestingKeepsTheSameSpacingAtEveryDepth) {
  JSONDictionary inner{{"k", "v"}, {"l", JSONArray{}}};
  JSONDictionary outer{{"a", JSONArray{inner, "x", JSONArray{JSONArray{"deep"}}}}, {"b", JSONDictionary{}}};
  EXPECT_EQ(JSONUtils::NSDictionaryToJSONString(outer),
            "{ \"a\" : [{ \"k\" : \"v\", \"l\" : []}, \"x\", [[\"deep\"]]], \"b\" : {}}");
  // The level passed in changes nothing.
  EXPECT_EQ(JSONUtils::jsonStringForValue(JSONArray{outer}, 0), JSONUtils::jsonStringForValue(JSONArray{outer}, 9));
}

TEST(JSONUtils, SevenEscapesAndNothingElse) {
  EXPECT_EQ(JSONUtils::jsonStringForString("\""), R"("\"")");
  EXPECT_EQ(JSONUtils::jsonStringForString("\\"), R"("\\")");
  EXPECT_EQ(JSONUtils::jsonStringForString("\b"), R"("\b")");
  EXPECT_EQ(JSONUtils::jsonStringForString("\t"), R"("\t")");
  EXPECT_EQ(JSONUtils::jsonStringForString("\n"), R"("\n")");
  EXPECT_EQ(JSONUtils::jsonStringForString("\f"), R"("\f")");
  EXPECT_EQ(JSONUtils::jsonStringForString("\r"), R"("\r")");
  EXPECT_EQ(JSONUtils::jsonStringForString("a\"b\\c\td\ne"), R"("a\"b\\c\td\ne")");
  // Other controls, the solidus and non-ASCII letters are copied byte for byte.
  EXPECT_EQ(JSONUtils::jsonStringForString(std::string("\x01/\x1f\x7f", 4)), std::string("\"\x01/\x1f\x7f\"", 6));
  EXPECT_EQ(JSONUtils::jsonStringForString("Grüße, señor — 日本 🐹"), "\"Grüße, señor — 日本 🐹\"");
  // A NUL inside the text is not the end of it.
  EXPECT_EQ(JSONUtils::jsonStringForString(std::string("a\0b", 3)), std::string("\"a\0b\"", 5));
}

TEST(JSONUtils, BooleansAreSignedCharZeroOrOne) {
  EXPECT_EQ(encode(JSONNumber::numberWithBool(true)), "true");
  EXPECT_EQ(encode(JSONNumber::numberWithBool(false)), "false");
  EXPECT_EQ(encode(JSONNumber::numberWithChar(5)), "5");
  EXPECT_EQ(encode(JSONNumber::numberWithChar(-1)), "-1");
  // Only the signed-char type code makes a boolean.
  EXPECT_EQ(encode(JSONNumber::numberWithLongLong(1)), "1");
  EXPECT_EQ(encode(JSONNumber::numberWithLongLong(0)), "0");
}

TEST(JSONUtils, NumbersInPlainNotation) {
  EXPECT_EQ(encode(JSONNumber::numberWithLongLong(-42)), "-42");
  EXPECT_EQ(encode(JSONNumber::numberWithLongLong(std::numeric_limits<long long>::min())), "-9223372036854775808");
  EXPECT_EQ(encode(JSONNumber::numberWithUnsignedLongLong(18446744073709551615ull)), "18446744073709551615");
  EXPECT_EQ(encode(JSONNumber::numberWithDouble(3.0)), "3");
  EXPECT_EQ(encode(JSONNumber::numberWithDouble(-2.5)), "-2.5");
  EXPECT_EQ(encode(JSONNumber::numberWithDouble(1e20)), "100000000000000000000");
  EXPECT_EQ(encode(JSONNumber::numberWithDouble(1.5e-7)), "0.00000015");
  EXPECT_EQ(encode(JSONNumber::numberWithDouble(-0.0)), "0");
  EXPECT_EQ(encode(JSONNumber::numberWithDouble(52.520008)), "52.520008");
}

TEST(JSONUtils, UnsupportedValuesAreRefused) {
  EXPECT_FALSE(JSONUtils::jsonStringForValue(JSONUnsupported{"a date"}, 0));
  EXPECT_FALSE(JSONUtils::jsonStringForValue(JSONNumber::numberWithDouble(std::nan("")), 0));
  EXPECT_FALSE(JSONUtils::jsonStringForValue(JSONNumber::numberWithDouble(INFINITY), 0));
  // Inside a container it becomes null, so the document stays valid.
  EXPECT_EQ(JSONUtils::jsonStringForArray({"a", JSONUnsupported{}, "b"}, 0), "[\"a\", null, \"b\"]");
  EXPECT_EQ(JSONUtils::NSDictionaryToJSONString({{"d", JSONUnsupported{}}}), "{ \"d\" : null}");
}

TEST(JSONUtils, OutputParsesBackToTheSameValue) {
  JSONDictionary sub{{"id", "12"}, {"beacon_id", "3"}, {"name", "quote \" back \\ tab \t nl \n cr \r ff \f bs \b"},
                     {"time_started", "1700000000"}, {"time_stopped", ""}, {"is_session", "1"}};
  JSONDictionary record{{"id", "3"},
                        {"time_started", "1700000000"},
                        {"latitude", "52.520008"},
                        {"name", "Grüße / 日本 🐹 & + % ="},
                        {"subbeacons", JSONArray{sub, sub, JSONDictionary{}}},
                        {"flags", JSONArray{JSONNumber::numberWithBool(true), JSONNumber::numberWithBool(false),
                                            JSONNumber::numberWithChar(5), JSONNumber::numberWithDouble(-0.125),
                                            JSONNumber::numberWithLongLong(-7), JSONNull{}}}};
  const std::string text = JSONUtils::NSDictionaryToJSONString(record);
  const auto parsed = nlohmann::ordered_json::parse(text);
  EXPECT_EQ(parsed, toNlohmann(record));
  EXPECT_EQ(text.find('\n'), std::string::npos);
}
