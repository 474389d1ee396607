// The live sound devices' entry points in the program; the devices are the sound module's.
#include "platform/live_sound.h"

#include "platform/modules.h"

namespace platform {

std::optional<LiveSound> openLiveSound(const std::optional<std::string>& input,
                                       const std::optional<std::string>& output, std::string& why,
                                       bool* moduleMissing) {
  using Open = bool(const std::optional<std::string>&, const std::optional<std::string>&, LiveSound&,
                    std::string&);
  if (moduleMissing) *moduleMissing = false;
  auto* open = moduleFunction<Open>("sound", "qb_sound_open", why);
  if (!open) {
    if (moduleMissing) *moduleMissing = true;
    return std::nullopt;
  }
  LiveSound sound;
  if (!open(input, output, sound, why)) return std::nullopt;
  return sound;
}

std::optional<std::string> listLiveSoundDevices(std::string& why, bool* moduleMissing) {
  using List = bool(std::string&, std::string&);
  if (moduleMissing) *moduleMissing = false;
  auto* list = moduleFunction<List>("sound", "qb_sound_list", why);
  if (!list) {
    if (moduleMissing) *moduleMissing = true;
    return std::nullopt;
  }
  std::string text;
  if (!list(text, why)) return std::nullopt;
  return text;
}

}  // namespace platform
