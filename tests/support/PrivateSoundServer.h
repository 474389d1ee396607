#pragma once
// A private sound server for one test, started and stopped by process id, its runtime folder in
// the test's temporary folder. PulseAudio, or PipeWire with its session manager on a private
// session bus and its PulseAudio service: both are driven with pactl. By default it has two
// null sinks, a virtual microphone ("mic", fed with `paplay -d mic`, heard by apps as "Monitor
// of VirtualMic") and a virtual speaker ("spk", recorded from "spk.monitor"). A private JACK
// server (dummy driver, 1024 frames) is reached by its own name.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "TempDir.h"

enum class SoundServerKind { PulseAudio, PipeWire };

class PrivateSoundServer {
 public:
  explicit PrivateSoundServer(const std::string& folder, SoundServerKind kind = SoundServerKind::PulseAudio,
                              bool withDevices = true);
  ~PrivateSoundServer();
  // False (with the server's log) when it did not come up.
  bool ready(std::string& log);
  // XDG_RUNTIME_DIR, HOME and PULSE_SERVER (and the session bus) for the programs that use it.
  const std::map<std::string, std::string>& environment() const { return env_; }
  // Runs `pactl ARGS...` against it; true when it succeeded.
  bool pactl(const std::vector<std::string>& args);
  static bool available(SoundServerKind kind = SoundServerKind::PulseAudio);
  static const char* name(SoundServerKind kind);

 private:
  std::string folder_;
  SoundServerKind kind_;
  bool withDevices_;
  std::map<std::string, std::string> env_;
  std::vector<std::unique_ptr<ChildProcess>> processes_;  // stopped last to first
};

class PrivateJackServer {
 public:
  explicit PrivateJackServer(const std::string& folder);
  ~PrivateJackServer();
  bool ready(std::string& log);
  // The server's name, and no PulseAudio to reach (the app then takes JACK).
  const std::map<std::string, std::string>& environment() const { return env_; }
  void stop();
  static bool available();

 private:
  std::string folder_;
  std::map<std::string, std::string> env_;
  std::unique_ptr<ChildProcess> server_;
};

// Test helpers shared by the programs that drive other programs.
bool waitUntil(const std::function<bool()>& condition, double seconds);
void sleepSeconds(double seconds);
