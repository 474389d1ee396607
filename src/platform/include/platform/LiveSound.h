#pragma once
// The live sound devices, from the sound module: the duplex back end for the window and the
// terminal run, and the device list.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Status.h"

namespace platform {

class DuplexAudioBackend;

// What the program reads of the live device besides its back end.
class LiveDeviceInfo {
 public:
  virtual ~LiveDeviceInfo() = default;
  // The devices' descriptions, with their own names where those differ.
  virtual std::string inputName() const = 0;
  virtual std::string outputName() const = 0;
  virtual std::string apiName() const = 0;  // the sound system: "PulseAudio", "PipeWire", "ALSA", "JACK"
  virtual bool interrupted() const = 0;
  // Times the loudspeaker ran out of sound after the stream had started. Any thread.
  virtual std::uint64_t underruns() const = 0;
};

struct LiveSound {
  std::shared_ptr<DuplexAudioBackend> device;
  std::shared_ptr<const LiveDeviceInfo> info;  // of `device`
};

// Finds the sound system and the two devices (a name, description, part of one, or a number;
// none: the defaults). A sound server that runs but has no device yet on a side left to its
// default is waited on: the device is returned, having said so in one line, and opens them once
// they appear. A failure says why when they are not there; its cause is Cause::kModuleMissing
// when the sound module itself could not be loaded.
Result<LiveSound> openLiveSound(const std::optional<std::string>& input,
                                const std::optional<std::string>& output);

// One line per device, or a failure saying why there is none (the cause as above).
Result<std::string> listLiveSoundDevices();

}  // namespace platform
