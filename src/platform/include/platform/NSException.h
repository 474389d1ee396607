#pragma once
// Named exceptions (NSException) and assertion failures (NSAssertionHandler) of the analytics
// library, as C++ exception types.
#include <stdexcept>
#include <string>

class NSException : public std::runtime_error {
 public:
  NSException(std::string name, std::string reason)
      : std::runtime_error(name + ": " + reason), name_(std::move(name)), reason_(std::move(reason)) {}
  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string name_;
  std::string reason_;
};

class NSAssertionFailure : public std::runtime_error {
 public:
  NSAssertionFailure(std::string operation, const void* object, std::string file, int line,
                     std::string description);
  const std::string& operation() const { return operation_; }
  const void* object() const { return object_; }
  const std::string& file() const { return file_; }
  int line() const { return line_; }
  const std::string& description() const { return description_; }

 private:
  std::string operation_;
  const void* object_;
  std::string file_;
  int line_;
  std::string description_;
};

// The assertion handler: logs the failure and raises NSAssertionFailure.
[[noreturn]] void handleFailureInMethod(const std::string& operation, const void* object,
                                        const std::string& file, int line,
                                        const std::string& description);
