// The sound module's entry points: platform::openLiveSound and listLiveSoundDevices in the
// program load this module and call them.
#include "AudioDeviceList.h"
#include "RtAudioBackend.h"
#include "platform/LiveSound.h"
#include "platform/Modules.h"

namespace {

class DeviceInfo final : public platform::LiveDeviceInfo {
 public:
  explicit DeviceInfo(std::shared_ptr<const platform::RtAudioBackend> device) : device_(std::move(device)) {}
  std::string inputName() const override { return device_->inputName(); }
  std::string outputName() const override { return device_->outputName(); }
  std::string apiName() const override { return device_->apiName(); }
  bool interrupted() const override { return device_->interrupted(); }
  std::uint64_t underruns() const override { return device_->underruns(); }

 private:
  std::shared_ptr<const platform::RtAudioBackend> device_;
};

}  // namespace

QB_MODULE_ENTRY bool qb_sound_open(const std::optional<std::string>& input,
                                   const std::optional<std::string>& output, platform::LiveSound& sound,
                                   std::string& why) {
  auto device = std::make_shared<platform::RtAudioBackend>(input, output);
  why = device->probe();
  if (!why.empty()) {
    // A sound server that is there but has no device yet is waited on, not given up.
    if (!device->canWait()) return false;
    device->waitForDevices(why);
  }
  sound.info = std::make_shared<DeviceInfo>(device);
  sound.device = std::move(device);
  return true;
}

QB_MODULE_ENTRY bool qb_sound_list(std::string& text, std::string& why) {
  const auto system = platform::findAudioSystem(&why);
  if (!system) return false;
  text = platform::describeDevices(*system);
  return true;
}
