#include "PrivateSoundServer.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
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

namespace {
const std::vector<std::vector<std::string>> kDevices = {
    {"load-module", "module-null-sink", "sink_name=spk", "rate=44100", "channels=1", "format=s16le",
     "sink_properties=device.description=VirtualSpeaker"},
    {"load-module", "module-null-sink", "sink_name=mic", "rate=44100", "channels=1", "format=s16le",
     "sink_properties=device.description=VirtualMic"}};
}  // namespace

const char* PrivateSoundServer::name(SoundServerKind kind) {
  return kind == SoundServerKind::PulseAudio ? "PulseAudio" : "PipeWire";
}

bool PrivateSoundServer::available(SoundServerKind kind) {
  const bool tools = ChildProcess::available("paplay") && ChildProcess::available("parecord") &&
                     ChildProcess::available("pactl");
  if (kind == SoundServerKind::PulseAudio) return tools && ChildProcess::available("pulseaudio");
  return tools && ChildProcess::available("pipewire") && ChildProcess::available("wireplumber") &&
         ChildProcess::available("dbus-daemon");
}

PrivateSoundServer::PrivateSoundServer(const std::string& folder, SoundServerKind kind, bool withDevices)
    : folder_(folder), kind_(kind), withDevices_(withDevices) {
  const std::string run = folder + "/run";
  std::filesystem::create_directories(run);
  std::filesystem::create_directories(folder + "/home");
  chmod(run.c_str(), 0700);
  env_ = {{"XDG_RUNTIME_DIR", run}, {"HOME", folder + "/home"}, {"PULSE_SERVER", "unix:" + run + "/pulse/native"}};
  if (kind == SoundServerKind::PulseAudio) {
    std::vector<std::string> argv = {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                     "--use-pid-file=no", "--log-target=stderr", "-L", "module-native-protocol-unix"};
    for (const auto& device : withDevices ? kDevices : std::vector<std::vector<std::string>>{}) {
      std::string module;
      for (std::size_t i = 1; i < device.size(); ++i) module += (i > 1 ? " " : "") + device[i];
      argv.insert(argv.end(), {"-L", module});
    }
    processes_.push_back(std::make_unique<ChildProcess>(argv, env_, folder + "/server.log"));
    return;
  }
  // pipewire-pulse is not installed beside pulseaudio: its service runs from our own config.
  env_["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + run + "/bus";
  processes_.push_back(std::make_unique<ChildProcess>(
      std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--address=" + env_["DBUS_SESSION_BUS_ADDRESS"]},
      env_, folder + "/dbus.log"));
  waitUntil([&] { return std::filesystem::exists(run + "/bus"); }, 5.0);
  processes_.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{"pipewire"}, env_, folder + "/server.log"));
  waitUntil([&] { return std::filesystem::exists(run + "/pipewire-0"); }, 5.0);
  processes_.push_back(
      std::make_unique<ChildProcess>(std::vector<std::string>{"wireplumber"}, env_, folder + "/wireplumber.log"));
  processes_.push_back(std::make_unique<ChildProcess>(
      std::vector<std::string>{"pipewire", "-c", std::string(QB_SOURCE_DIR) + "/tests/support/pipewire-pulse.conf"},
      env_, folder + "/pulse.log"));
}

PrivateSoundServer::~PrivateSoundServer() {
  for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) (*it)->stop(SIGTERM, 10.0);
}

bool PrivateSoundServer::pactl(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"pactl"};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess tool(argv, env_, folder_ + "/pactl.log");
  return tool.wait(10.0) == 0;
}

bool PrivateSoundServer::ready(std::string& log) {
  const std::string socket = env_.at("XDG_RUNTIME_DIR") + "/pulse/native";
  bool up = waitUntil([&] { return std::filesystem::exists(socket); }, 10.0) &&
            waitUntil([&] { return pactl({"info"}); }, 10.0);
  if (up && kind_ == SoundServerKind::PipeWire && withDevices_) {
    for (const auto& device : kDevices) up = up && pactl(device);
  }
  if (up) return true;
  log = readTextFile(folder_ + "/server.log") + readTextFile(folder_ + "/pactl.log");
  return false;
}

bool PrivateJackServer::available() { return ChildProcess::available("jackd"); }

PrivateJackServer::PrivateJackServer(const std::string& folder) : folder_(folder) {
  const std::string name = "qb-test-" + std::to_string(getpid()) + "-" + std::filesystem::path(folder).filename().string();
  env_ = {{"JACK_DEFAULT_SERVER", name}, {"PULSE_SERVER", "unix:" + folder + "/no-pulse"}};
  server_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"jackd", "-n", name, "-d", "dummy", "-r", "44100", "-p", "1024"}, env_,
      folder + "/jackd.log");
}

PrivateJackServer::~PrivateJackServer() { stop(); }

void PrivateJackServer::stop() {
  if (server_) server_->stop(SIGTERM, 10.0);
  server_.reset();
}

bool PrivateJackServer::ready(std::string& log) {
  // jackd1 says so once its engine runs; clients may connect from then on.
  if (waitUntil([&] { return readTextFile(folder_ + "/jackd.log").find("dummy") != std::string::npos; }, 10.0)) {
    sleepSeconds(0.5);
    return true;
  }
  log = readTextFile(folder_ + "/jackd.log");
  return false;
}
