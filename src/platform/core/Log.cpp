#include "platform/Log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace {
std::mutex sinkMutex;
platform::LogSink sink;
}  // namespace

void NSLog(const char* format, ...) {
  char stackBuffer[512];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, args);
  va_end(args);
  std::string line;
  if (needed >= static_cast<int>(sizeof stackBuffer)) {
    line.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(line.data(), line.size(), format, copy);
    line.resize(static_cast<size_t>(needed));
  } else if (needed > 0) {
    line.assign(stackBuffer, static_cast<size_t>(needed));
  }
  va_end(copy);

  std::lock_guard lock(sinkMutex);
  if (sink) {
    sink(line);
  } else {
    std::fprintf(stderr, "quibblers: %s\n", line.c_str());
  }
}

namespace platform {

void setLogSink(LogSink newSink) {
  std::lock_guard lock(sinkMutex);
  sink = std::move(newSink);
}

LogCapture::LogCapture() {
  setLogSink([this](std::string_view line) { lines_.emplace_back(line); });
}

LogCapture::~LogCapture() { setLogSink({}); }

bool LogCapture::contains(std::string_view fragment) const {
  for (const auto& line : lines_) {
    if (line.find(fragment) != std::string::npos) return true;
  }
  return false;
}

}  // namespace platform
