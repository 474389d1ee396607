#include "PrivateSoundServer.h"

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

bool waitUntil(const std::function<bool()>& condition, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

void sleepSeconds(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

bool PrivateSoundServer::available() {
  return ChildProcess::available("pulseaudio") && ChildProcess::available("paplay") &&
         ChildProcess::available("parecord");
}

PrivateSoundServer::PrivateSoundServer(const std::string& folder) : folder_(folder) {
  const std::string run = folder + "/run";
  std::filesystem::create_directories(run);
  std::filesystem::create_directories(folder + "/home");
  chmod(run.c_str(), 0700);
  env_ = {{"XDG_RUNTIME_DIR", run}, {"HOME", folder + "/home"}, {"PULSE_SERVER", "unix:" + run + "/pulse/native"}};
  server_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                               "--use-pid-file=no", "--log-target=stderr", "-L", "module-native-protocol-unix",
                               "-L", "module-null-sink sink_name=spk rate=44100 channels=1 format=s16le "
                                     "sink_properties=device.description=VirtualSpeaker",
                               "-L", "module-null-sink sink_name=mic rate=44100 channels=1 format=s16le "
                                     "sink_properties=device.description=VirtualMic"},
      env_, folder + "/pulseaudio.log");
}

PrivateSoundServer::~PrivateSoundServer() {
  if (server_) server_->stop(SIGTERM, 10.0);
}

bool PrivateSoundServer::ready(std::string& log) {
  const std::string socket = env_.at("XDG_RUNTIME_DIR") + "/pulse/native";
  if (waitUntil([&] { return std::filesystem::exists(socket); }, 10.0)) return true;
  log = readTextFile(folder_ + "/pulseaudio.log");
  return false;
}
