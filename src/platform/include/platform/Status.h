#pragma once
// How the platform tells its callers that something failed: a Status (or a Result<T>, which
// carries the value on success) holding one sentence for the user. Both are [[nodiscard]], so
// a caller that ignores a failure does not compile.
//
//   auto window = platform::openWindow(...);
//   if (!window) return reportFailure(RunFailure::kNoDisplayOrSound, window.message());
//   (*window)->present(...);
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace platform {

// What a failure means beyond its sentence, where a caller acts on the difference.
enum class Cause {
  kFailed,         // the operation failed; the sentence says why
  kModuleMissing,  // the program's own module could not be loaded: the installation is broken
};

struct Error {
  std::string message;  // one sentence, ready to show
  Cause cause = Cause::kFailed;
};

inline Error fail(std::string message, Cause cause = Cause::kFailed) {
  return Error{std::move(message), cause};
}

inline const std::string& noMessage() {
  static const std::string empty;
  return empty;
}

class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)) {}  // NOLINT: a failure converts implicitly

  bool ok() const { return !error_; }
  explicit operator bool() const { return ok(); }
  // Only on failure.
  const Error& error() const { return *error_; }
  // Empty on success.
  const std::string& message() const { return error_ ? error_->message : noMessage(); }

 private:
  std::optional<Error> error_;
};

template <typename T>
class [[nodiscard]] Result {
 public:
  // Anything a T is made from, such as a pointer to a derived class.
  template <typename U>
    requires std::is_constructible_v<T, U&&> && (!std::is_same_v<std::remove_cvref_t<U>, Error>)
  Result(U&& value) : value_(std::in_place_index<0>, std::forward<U>(value)) {}  // NOLINT
  Result(Error error) : value_(std::in_place_index<1>, std::move(error)) {}     // NOLINT

  bool ok() const { return value_.index() == 0; }
  explicit operator bool() const { return ok(); }
  // Only on success.
  T& operator*() { return std::get<0>(value_); }
  const T& operator*() const { return std::get<0>(value_); }
  T* operator->() { return &std::get<0>(value_); }
  const T* operator->() const { return &std::get<0>(value_); }
  // Only on failure.
  const Error& error() const { return std::get<1>(value_); }
  // Empty on success.
  const std::string& message() const { return ok() ? noMessage() : std::get<1>(value_).message; }

 private:
  std::variant<T, Error> value_;
};

}  // namespace platform
