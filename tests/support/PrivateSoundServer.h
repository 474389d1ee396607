#pragma once
// A private PulseAudio server for one test: two null sinks, a virtual microphone ("mic", fed
// with `paplay -d mic`, heard by apps as "Monitor of VirtualMic") and a virtual speaker ("spk",
// recorded from "spk.monitor"). Started and stopped by process id; its runtime folder lives in
// the test's temporary folder.
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "ChildProcess.h"
#include "TempDir.h"

class PrivateSoundServer {
 public:
  explicit PrivateSoundServer(const std::string& folder);
  ~PrivateSoundServer();
  // False (with the server's log) when it did not come up.
  bool ready(std::string& log);
  // XDG_RUNTIME_DIR, HOME and PULSE_SERVER for the programs that use it.
  const std::map<std::string, std::string>& environment() const { return env_; }
  static bool available();

 private:
  std::string folder_;
  std::map<std::string, std::string> env_;
  std::unique_ptr<ChildProcess> server_;
};

// Test helpers shared by the programs that drive other programs.
bool waitUntil(const std::function<bool()>& condition, double seconds);
void sleepSeconds(double seconds);
