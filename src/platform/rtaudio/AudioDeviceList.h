#pragma once
// The sound devices the live back end can use, from the first audio system that has any:
// PulseAudio (which PipeWire desktops serve), then ALSA, then JACK. Probing keeps the audio
// libraries' own diagnostics off the terminal.
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct AudioDevice {
  unsigned id;  // the audio system's device number
  std::string name;
  unsigned inputChannels;
  unsigned outputChannels;
  bool defaultInput;
  bool defaultOutput;
};

struct AudioSystem {
  int api = 0;          // RtAudio::Api
  std::string apiName;  // "PulseAudio", "ALSA", "JACK"
  std::vector<AudioDevice> devices;
};

// The first audio system with at least one input and one output device; none when there is
// no usable device anywhere (`why` then says what was tried).
std::optional<AudioSystem> findAudioSystem(std::string* why);

// The device for "NAME" or "NUMBER" (a name matches exactly, else as the only device whose
// name contains it), among those with input (`input`) or output channels; the default one
// when `wanted` is empty. Null with a reason when there is none or the name is ambiguous.
const AudioDevice* chooseDevice(const AudioSystem& system, const std::optional<std::string>& wanted,
                                bool input, std::string* why);

// One line per device, for --list-devices.
std::string describeDevices(const AudioSystem& system);

// Silences the ALSA and JACK libraries' own error printing (they write to stderr directly).
void quietAudioLibraries();

}  // namespace platform
