// The usage reports' JSON encoder on arbitrary nested values: strings come back unchanged after
// undoing the seven escapes, and the appending and returning forms agree.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "JSONUtils.h"

namespace {

JSONValue makeValue(FuzzedDataProvider& in, int depth) {
  switch (in.ConsumeIntegralInRange(0, depth > 4 ? 3 : 5)) {
    case 0: return JSONValue(in.ConsumeRandomLengthString(64));
    case 1: return JSONValue(JSONNull{});
    case 2: {
      switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: return JSONValue(JSONNumber::numberWithBool(in.ConsumeBool()));
        case 1: return JSONValue(JSONNumber::numberWithLongLong(in.ConsumeIntegral<long long>()));
        case 2: return JSONValue(JSONNumber::numberWithUnsignedLongLong(in.ConsumeIntegral<unsigned long long>()));
        default: return JSONValue(JSONNumber::numberWithDouble(in.ConsumeFloatingPoint<double>()));
      }
    }
    case 3: return JSONValue(JSONUnsupported{in.ConsumeRandomLengthString(8)});
    case 4: {
      JSONArray array;
      const int n = in.ConsumeIntegralInRange(0, 4);
      for (int i = 0; i < n; ++i) array.push_back(makeValue(in, depth + 1));
      return JSONValue(std::move(array));
    }
    default: {
      JSONDictionary dictionary;
      const int n = in.ConsumeIntegralInRange(0, 4);
      for (int i = 0; i < n; ++i) {
        std::string key = in.ConsumeRandomLengthString(16);
        dictionary.set(std::move(key), makeValue(in, depth + 1));
      }
      return JSONValue(std::move(dictionary));
    }
  }
}

// Undoes the encoder's seven escapes.
std::string unquote(const std::string& quoted) {
  if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') std::abort();
  std::string text;
  for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
    char c = quoted[i];
    if (c == '"') std::abort();  // an unescaped quote would end the string early
    if (c == '\\') {
      if (i + 2 >= quoted.size()) std::abort();
      switch (quoted[++i]) {
        case '"': c = '"'; break;
        case '\\': c = '\\'; break;
        case 'b': c = '\b'; break;
        case 't': c = '\t'; break;
        case 'n': c = '\n'; break;
        case 'f': c = '\f'; break;
        case 'r': c = '\r'; break;
        default: std::abort();
      }
    }
    text += c;
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string text = in.ConsumeRandomLengthString(256);
  const std::string quoted = JSONUtils::jsonStringForString(text);
  if (unquote(quoted) != text) std::abort();
  if (quoted.find('\n') != std::string::npos) std::abort();  // one line

  const JSONValue value = makeValue(in, 0);
  const auto encoded = JSONUtils::jsonStringForValue(value, 0);
  std::string appended;
  const bool ok = JSONUtils::appendValue(appended, value, 0);
  if (ok != encoded.has_value() || (ok && appended != *encoded)) std::abort();
  if (const auto* dictionary = value.get<JSONDictionary>()) {
    std::string whole;
    JSONUtils::appendDictionary(whole, *dictionary);
    if (whole != JSONUtils::NSDictionaryToJSONString(*dictionary)) std::abort();
  }
  return 0;
}
