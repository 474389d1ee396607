#pragma once
// How the controller keeps store failures inside the library (private to Beacon*.cpp).
#include <exception>
#include <string>

#include "Beacon.h"
#include "platform/NSException.h"

// One readable line for the exception being handled.
inline std::string describeCurrentException() {
  try {
    throw;
  } catch (const NSAssertionFailure& failure) {
    return failure.description() + " (" + failure.file() + ":" + std::to_string(failure.line()) + ")";
  } catch (const NSException& exception) {
    return exception.name() + ": " + exception.reason();
  } catch (const std::exception& exception) {
    return exception.what();
  } catch (...) {
    return "unknown failure";
  }
}

template <typename Operation>
bool Beacon::contain(Operation&& operation) noexcept {
  if (!store_) return false;
  try {
    operation(*store_);
    return true;
  } catch (...) {
    turnAnalyticsOff(describeCurrentException());
    return false;
  }
}
