#include "AudioDeviceList.h"

#include <RtAudio.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <sstream>

#include "PulseConnection.h"

namespace platform {

namespace {

// libasound's and libjack's handlers are set through dlsym so that neither library becomes a
// link dependency of ours (RtAudio has already loaded them).
extern "C" void silentAlsa(const char*, int, const char*, int, const char*, ...) {}
extern "C" void silentJack(const char*) {}

}  // namespace

namespace {
// Swallows what is written to it.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};
}  // namespace

void quietAudioLibraries() {
  static bool done = false;
  if (done) return;
  done = true;
  // RtAudio writes the JACK server's shutdown notice to std::cerr itself; the back end reports
  // the lost stream in its own words. Nothing else here writes to std::cerr.
  // Never destroyed: the standard streams are flushed after every static object is gone.
  static auto* nothing = new NullBuffer;
  std::cerr.rdbuf(nothing);
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
  // RtAudio's own PulseAudio listing crashes on a server without a sink and merges devices that
  // share a description; libpulse lists them all under their names.
  std::string pulseWhy;
  {
    PulseConnection pulse;
    if (pulse.connect(kPulseAnswerSeconds, &pulseWhy)) {
      auto system = pulse.devices(kPulseAnswerSeconds, &pulseWhy);
      if (system) {
        system->api = RtAudio::LINUX_PULSE;
        return system;
      }
    }
  }
  std::vector<RtAudio::Api> compiled;
  RtAudio::getCompiledApi(compiled);
  std::string tried = "PulseAudio/PipeWire: " + pulseWhy;
  for (const auto& [api, name] : {std::pair{RtAudio::LINUX_ALSA, "ALSA"}, std::pair{RtAudio::UNIX_JACK, "JACK"}}) {
    if (std::find(compiled.begin(), compiled.end(), api) == compiled.end()) continue;
    tried += std::string("; ") + name + ": no devices";
    try {
      RtAudio audio(api);
      audio.showWarnings(false);
      AudioSystem system;
      system.api = api;
      system.apiName = name;
      const unsigned count = audio.getDeviceCount();
      for (unsigned number = 0; number < count; ++number) {
        const RtAudio::DeviceInfo info = audio.getDeviceInfo(number);
        if (!info.probed || (info.inputChannels == 0 && info.outputChannels == 0)) continue;
        system.devices.push_back({info.name, info.name, number, info.inputChannels, info.outputChannels,
                                  info.isDefaultInput, info.isDefaultOutput});
      }
      if (!system.devices.empty()) return system;
    } catch (const std::exception&) {
      // This audio system is not running here; try the next.
    }
  }
  if (why) *why = tried;
  return std::nullopt;
}

const AudioDevice* chooseDevice(const AudioSystem& system, const std::optional<std::string>& wanted,
                                bool input, std::string* why) {
  const char* side = input ? "input" : "output";
  auto usable = [&](const AudioDevice& d) { return input ? d.inputChannels > 0 : d.outputChannels > 0; };
  auto refuse = [&](const std::string& reason) -> const AudioDevice* {
    if (why) *why = reason;
    return nullptr;
  };
  if (!wanted || wanted->empty()) {
    const AudioDevice* first = nullptr;
    for (const AudioDevice& d : system.devices) {
      if (!usable(d)) continue;
      if (input ? d.defaultInput : d.defaultOutput) return &d;
      if (first == nullptr) first = &d;
    }
    return first ? first : refuse(std::string("no ") + (input ? "microphone" : "loudspeaker") + " (" +
                                  side + " device) on " + system.apiName);
  }
  const std::string& w = *wanted;
  // Each way of naming a device in turn; the first that picks exactly one device wins.
  char* end = nullptr;
  const unsigned long number = std::strtoul(w.c_str(), &end, 10);
  const bool isNumber = end != w.c_str() && *end == '\0';
  const std::function<bool(const AudioDevice&)> ways[] = {
      [&](const AudioDevice& d) { return d.id == w; },
      [&](const AudioDevice& d) { return d.description == w; },
      [&](const AudioDevice& d) { return isNumber && d.number == number; },
      [&](const AudioDevice& d) {
        return d.id.find(w) != std::string::npos || d.description.find(w) != std::string::npos;
      }};
  for (const auto& matches : ways) {
    std::vector<const AudioDevice*> found;
    for (const AudioDevice& d : system.devices) {
      if (usable(d) && matches(d)) found.push_back(&d);
    }
    if (found.size() == 1) return found.front();
    if (found.size() > 1) {
      std::string names;
      for (const AudioDevice* d : found) names += (names.empty() ? "" : ", ") + d->id;
      return refuse(std::string("more than one ") + side + " device matches '" + w + "': " + names);
    }
  }
  return refuse(std::string("no ") + side + " device '" + w + "'");
}

std::string describeDevices(const AudioSystem& system) {
  if (system.devices.empty()) return "no sound devices found (" + system.apiName + " has none at the moment)\n";
  std::size_t width = 0;
  for (const AudioDevice& d : system.devices) width = std::max(width, d.id.size());
  std::ostringstream out;
  out << "Sound devices on " << system.apiName
      << "; --output-device and --input-device take the name in the second column:\n";
  for (const bool output : {true, false}) {
    for (const AudioDevice& d : system.devices) {
      if (output ? d.outputChannels == 0 : d.inputChannels == 0) continue;
      // A device with both sides (ALSA, JACK) is listed once, with the outputs.
      if (!output && d.outputChannels > 0) continue;
      const char* kind = d.inputChannels && d.outputChannels ? "in+out" : output ? "output" : "input";
      out << "  " << kind << std::string(8 - std::strlen(kind), ' ') << d.id << std::string(width - d.id.size() + 2, ' ')
          << d.description;
      if (d.defaultOutput && d.defaultInput) {
        out << "  [default output and input]";
      } else if (d.defaultOutput || d.defaultInput) {
        out << "  [default " << (d.defaultOutput ? "output" : "input") << "]";
      }
      out << "\n";
    }
  }
  return out.str();
}

}  // namespace platform
