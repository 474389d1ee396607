#pragma once
// The values the JSON encoder writes: text, ordered dictionary with text keys, list, the null
// marker, number (with a type code) and anything else, which the encoder refuses.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <variant>
#include <vector>

struct JSONNull {
  bool operator==(const JSONNull&) const = default;
};

// A number as the platform boxes it: a value and the C type it came from. Booleans are
// signed-char numbers of value 0 or 1.
class JSONNumber {
 public:
  enum class Type : char { signedChar = 'c', longLong = 'q', unsignedLongLong = 'Q', double_ = 'd' };

  static JSONNumber numberWithBool(bool value) { return JSONNumber(Type::signedChar, value ? 1 : 0, 0, 0.0); }
  static JSONNumber numberWithChar(signed char value) { return JSONNumber(Type::signedChar, value, 0, 0.0); }
  static JSONNumber numberWithLongLong(long long value) { return JSONNumber(Type::longLong, value, 0, 0.0); }
  static JSONNumber numberWithUnsignedLongLong(unsigned long long value) {
    return JSONNumber(Type::unsignedLongLong, 0, value, 0.0);
  }
  static JSONNumber numberWithDouble(double value) { return JSONNumber(Type::double_, 0, 0, value); }

  Type type() const { return type_; }
  long long longLongValue() const { return signed_; }
  unsigned long long unsignedLongLongValue() const { return unsigned_; }
  double doubleValue() const { return double_; }
  bool operator==(const JSONNumber&) const = default;

 private:
  JSONNumber(Type type, long long s, unsigned long long u, double d) : type_(type), signed_(s), unsigned_(u), double_(d) {}
  Type type_;
  long long signed_;
  unsigned long long unsigned_;
  double double_;
};

// Stands for any object the encoder has no form for (a date, raw bytes, ...).
struct JSONUnsupported {
  std::string description;
  bool operator==(const JSONUnsupported&) const = default;
};

class JSONValue;
using JSONArray = std::vector<JSONValue>;

// Keys stay in insertion order, so the encoded text is deterministic. Setting an existing key
// replaces its value in place.
class JSONDictionary {
 public:
  using Entry = std::pair<std::string, JSONValue>;
  JSONDictionary() = default;
  JSONDictionary(std::initializer_list<Entry> entries);

  void set(std::string key, JSONValue value);
  const JSONValue* find(const std::string& key) const;
  // The text stored under `key`, or empty when absent or not a text.
  const std::string& text(const std::string& key) const;
  // Defined below JSONValue: some compilers need the entries' type complete here.
  size_t size() const;
  bool empty() const;
  void reserve(size_t n);
  std::vector<Entry>::const_iterator begin() const;
  std::vector<Entry>::const_iterator end() const;
  bool operator==(const JSONDictionary& other) const;

 private:
  std::vector<Entry> entries_;
};

class JSONValue {
 public:
  using Storage = std::variant<std::string, JSONDictionary, JSONArray, JSONNull, JSONNumber, JSONUnsupported>;

  JSONValue() : storage_(JSONNull{}) {}
  JSONValue(const char* text) : storage_(std::string(text)) {}
  JSONValue(std::string text) : storage_(std::move(text)) {}
  JSONValue(JSONDictionary dictionary) : storage_(std::move(dictionary)) {}
  JSONValue(JSONArray array) : storage_(std::move(array)) {}
  JSONValue(JSONNull null) : storage_(null) {}
  JSONValue(JSONNumber number) : storage_(number) {}
  JSONValue(JSONUnsupported other) : storage_(std::move(other)) {}

  const Storage& storage() const { return storage_; }
  template <typename T>
  const T* get() const { return std::get_if<T>(&storage_); }
  bool operator==(const JSONValue& other) const { return storage_ == other.storage_; }

 private:
  Storage storage_;
};

inline JSONDictionary::JSONDictionary(std::initializer_list<Entry> entries) : entries_(entries) {}

inline bool JSONDictionary::operator==(const JSONDictionary& other) const { return entries_ == other.entries_; }
inline size_t JSONDictionary::size() const { return entries_.size(); }
inline bool JSONDictionary::empty() const { return entries_.empty(); }
inline void JSONDictionary::reserve(size_t n) { entries_.reserve(n); }
inline std::vector<JSONDictionary::Entry>::const_iterator JSONDictionary::begin() const { return entries_.begin(); }
inline std::vector<JSONDictionary::Entry>::const_iterator JSONDictionary::end() const { return entries_.end(); }
