// The live sound devices' entry points in the program; the devices are the sound module's.
#include "platform/LiveSound.h"

#include "platform/Modules.h"

namespace platform {

Result<LiveSound> openLiveSound(const std::optional<std::string>& input,
                                const std::optional<std::string>& output) {
  using Open = bool(const std::optional<std::string>&, const std::optional<std::string>&, LiveSound&,
                    std::string&);
  auto open = moduleFunction<Open>("sound", "qb_sound_open");
  if (!open) return open.error();
  LiveSound sound;
  std::string why;
  if (!(*open)(input, output, sound, why)) return fail(why);
  return sound;
}

Result<std::string> listLiveSoundDevices() {
  using List = bool(std::string&, std::string&);
  auto list = moduleFunction<List>("sound", "qb_sound_list");
  if (!list) return list.error();
  std::string text;
  std::string why;
  if (!(*list)(text, why)) return fail(why);
  return text;
}

}  // namespace platform
