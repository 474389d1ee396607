#include "platform/NSException.h"

#include "platform/Log.h"

NSAssertionFailure::NSAssertionFailure(std::string operation, const void* object, std::string file,
                                       int line, std::string description)
    : std::runtime_error("*** Assertion failure in " + operation + ", " + file + ":" +
                         std::to_string(line) + ": " + description),
      operation_(std::move(operation)),
      object_(object),
      file_(std::move(file)),
      line_(line),
      description_(std::move(description)) {}

void handleFailureInMethod(const std::string& operation, const void* object,
                           const std::string& file, int line, const std::string& description) {
  NSLog("*** Assertion failure in %s, %s:%d", operation.c_str(), file.c_str(), line);
  throw NSAssertionFailure(operation, object, file, line, description);
}
