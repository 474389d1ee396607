#pragma once
// The sound devices the live back end can use, from the first audio system there is: a
// PulseAudio server (or PipeWire's PulseAudio service), listed through libpulse, else ALSA or
// JACK through RtAudio. Probing keeps the audio libraries' own diagnostics off the terminal.
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct AudioDevice {
  std::string id;           // the server's own name for it: stable, and unique among its devices
  std::string description;  // what the desktop shows; twins may share one
  unsigned number;          // RtAudio's device number (ALSA, JACK); the listing's order otherwise
  unsigned inputChannels;
  unsigned outputChannels;
  bool defaultInput;
  bool defaultOutput;
};

// How long a sound server gets to answer a connection or a listing.
constexpr double kPulseAnswerSeconds = 3.0;

struct AudioSystem {
  int api = 0;          // RtAudio::Api; LINUX_PULSE means libpulse is used directly
  std::string apiName;  // "PulseAudio", "PipeWire", "ALSA", "JACK"
  std::vector<AudioDevice> devices;
};

// The running sound server, even one with no devices at the moment, else the first of ALSA and
// JACK with a device; none when there is nothing (`why` then says what was tried).
std::optional<AudioSystem> findAudioSystem(std::string* why);

// The device for `wanted` among those with input (`input`) or output channels: its identifier,
// else its description when no twin shares it, else its number, else the only device whose
// identifier or description contains it. The default one (or the first) when `wanted` is empty.
// Null with a reason when there is none or more than one.
const AudioDevice* chooseDevice(const AudioSystem& system, const std::optional<std::string>& wanted,
                                bool input, std::string* why);

// One line per device, outputs first, for --list-devices.
std::string describeDevices(const AudioSystem& system);

// Silences the ALSA and JACK libraries' own error printing (they write to stderr directly).
void quietAudioLibraries();

}  // namespace platform
