#include "AudioDeviceList.h"

#include <RtAudio.h>
#include <dlfcn.h>

#include <cstdarg>
#include <cstdlib>
#include <sstream>

namespace platform {

namespace {

// libasound's and libjack's handlers are set through dlsym so that neither library becomes a
// link dependency of ours (RtAudio has already loaded them).
extern "C" void silentAlsa(const char*, int, const char*, int, const char*, ...) {}
extern "C" void silentJack(const char*) {}

}  // namespace

void quietAudioLibraries() {
  static bool done = false;
  if (done) return;
  done = true;
  setenv("JACK_NO_START_SERVER", "1", 0);
  using AlsaHandler = void (*)(const char*, int, const char*, int, const char*, ...);
  if (auto set = reinterpret_cast<int (*)(AlsaHandler)>(dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))) {
    set(silentAlsa);
  }
  using JackHandler = void (*)(const char*);
  for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
    if (auto set = reinterpret_cast<void (*)(JackHandler)>(dlsym(RTLD_DEFAULT, name))) set(silentJack);
  }
}

std::optional<AudioSystem> findAudioSystem(std::string* why) {
  quietAudioLibraries();
  std::vector<RtAudio::Api> compiled;
  RtAudio::getCompiledApi(compiled);
  std::string tried;
  for (const auto& [api, name] : {std::pair{RtAudio::LINUX_PULSE, "PulseAudio"},
                                  std::pair{RtAudio::LINUX_ALSA, "ALSA"},
                                  std::pair{RtAudio::UNIX_JACK, "JACK"}}) {
    bool available = false;
    for (auto c : compiled) available = available || c == api;
    if (!available) continue;
    tried += tried.empty() ? name : std::string(", ") + name;
    try {
      RtAudio audio(api);
      audio.showWarnings(false);
      AudioSystem system;
      system.api = api;
      system.apiName = name;
      const unsigned count = audio.getDeviceCount();
      bool haveInput = false;
      bool haveOutput = false;
      for (unsigned id = 0; id < count; ++id) {
        const RtAudio::DeviceInfo info = audio.getDeviceInfo(id);
        if (!info.probed || (info.inputChannels == 0 && info.outputChannels == 0)) continue;
        system.devices.push_back({id, info.name, info.inputChannels, info.outputChannels,
                                  info.isDefaultInput, info.isDefaultOutput});
        haveInput = haveInput || info.inputChannels > 0;
        haveOutput = haveOutput || info.outputChannels > 0;
      }
      if (haveInput && haveOutput) return system;
    } catch (const std::exception&) {
      // This audio system is not running here; try the next.
    }
  }
  if (why) {
    *why = tried.empty() ? "this build has no audio system"
                         : "no sound device with both a microphone and a loudspeaker (tried " + tried + ")";
  }
  return std::nullopt;
}

const AudioDevice* chooseDevice(const AudioSystem& system, const std::optional<std::string>& wanted,
                                bool input, std::string* why) {
  const char* side = input ? "input" : "output";
  auto usable = [&](const AudioDevice& d) { return input ? d.inputChannels > 0 : d.outputChannels > 0; };
  if (!wanted || wanted->empty()) {
    const AudioDevice* first = nullptr;
    for (const AudioDevice& d : system.devices) {
      if (!usable(d)) continue;
      if (input ? d.defaultInput : d.defaultOutput) return &d;
      if (first == nullptr) first = &d;
    }
    if (first == nullptr && why) *why = std::string("no ") + side + " device";
    return first;
  }
  const std::string& w = *wanted;
  char* end = nullptr;
  const unsigned long number = std::strtoul(w.c_str(), &end, 10);
  const bool isNumber = end != w.c_str() && *end == '\0';
  const AudioDevice* partial = nullptr;
  int partialCount = 0;
  for (const AudioDevice& d : system.devices) {
    if (!usable(d)) continue;
    if ((isNumber && d.id == number) || d.name == w) return &d;
    if (d.name.find(w) != std::string::npos) {
      partial = &d;
      ++partialCount;
    }
  }
  if (partialCount == 1) return partial;
  if (why) {
    *why = partialCount > 1 ? std::string("more than one ") + side + " device matches '" + w + "'"
                            : std::string("no ") + side + " device '" + w + "'";
  }
  return nullptr;
}

std::string describeDevices(const AudioSystem& system) {
  std::ostringstream out;
  out << system.apiName << " devices:\n";
  for (const AudioDevice& d : system.devices) {
    out << "  " << d.id << ": " << d.name << " (";
    if (d.inputChannels) out << "input";
    if (d.inputChannels && d.outputChannels) out << " and ";
    if (d.outputChannels) out << "output";
    out << ")";
    if (d.defaultInput) out << " [default input]";
    if (d.defaultOutput) out << " [default output]";
    out << "\n";
  }
  return out.str();
}

}  // namespace platform
