#pragma once
// The live sound devices, from the sound module: the duplex back end for the window and the
// terminal run, and the device list.
#include <memory>
#include <optional>
#include <string>

namespace platform {

class DuplexAudioBackend;

struct LiveSound {
  std::shared_ptr<DuplexAudioBackend> device;
  std::string inputName;
  std::string outputName;
  std::string apiName;  // the sound system: "PulseAudio", "ALSA", "JACK"
};

// Finds the sound system and the two devices (a name, part of one, or a number; none: the
// defaults). None with `why` (one sentence) when they are not there; `moduleMissing` is then
// set when the sound module itself could not be loaded.
std::optional<LiveSound> openLiveSound(const std::optional<std::string>& input,
                                       const std::optional<std::string>& output, std::string& why,
                                       bool* moduleMissing = nullptr);

// One line per device, or none with `why`.
std::optional<std::string> listLiveSoundDevices(std::string& why);

}  // namespace platform
