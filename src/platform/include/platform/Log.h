#pragma once
// NSLog stand-in: one printf-style line to the system log (stderr here). Not real-time safe.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

[[gnu::format(printf, 1, 2)]] void NSLog(const char* format, ...);

namespace platform {
// Where log lines go; tests capture them. An empty function restores stderr.
using LogSink = std::function<void(std::string_view line)>;
void setLogSink(LogSink sink);

// Collects log lines for the lifetime of the object (tests).
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  const std::vector<std::string>& lines() const { return lines_; }
  bool contains(std::string_view fragment) const;

 private:
  std::vector<std::string> lines_;
};
}  // namespace platform
