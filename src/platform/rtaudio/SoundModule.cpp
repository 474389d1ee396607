// The sound module's entry points: platform::openLiveSound and listLiveSoundDevices in the
// program load this module and call them.
#include "AudioDeviceList.h"
#include "RtAudioBackend.h"
#include "platform/live_sound.h"
#include "platform/modules.h"

QB_MODULE_ENTRY bool qb_sound_open(const std::optional<std::string>& input,
                                   const std::optional<std::string>& output, platform::LiveSound& sound,
                                   std::string& why) {
  auto device = std::make_shared<platform::RtAudioBackend>(input, output);
  why = device->probe();
  if (!why.empty()) return false;
  sound.inputName = device->inputName();
  sound.outputName = device->outputName();
  sound.apiName = device->apiName();
  sound.device = std::move(device);
  return true;
}

QB_MODULE_ENTRY bool qb_sound_list(std::string& text, std::string& why) {
  const auto system = platform::findAudioSystem(&why);
  if (!system) return false;
  text = platform::describeDevices(*system);
  return true;
}
