#include <gtest/gtest.h>

#include "AudioDeviceList.h"

namespace {
// A PulseAudio server as libpulse lists it, with two sinks that share a description.
platform::AudioSystem system() {
  platform::AudioSystem s;
  s.apiName = "PulseAudio";
  s.devices = {{"spk.monitor", "Monitor of VirtualSpeaker", 0, 1, 0, true, false},
               {"spk", "VirtualSpeaker", 1, 0, 1, false, false},
               {"mic", "VirtualMic", 2, 0, 1, false, false},
               {"mic.monitor", "Monitor of VirtualMic", 3, 1, 0, false, false},
               {"usb-headset", "USB Headset", 4, 1, 2, false, false},
               {"twin-a", "Twin", 5, 0, 2, false, false},
               {"twin-b", "Twin", 6, 0, 2, false, true}};
  return s;
}
}  // namespace

TEST(DeviceChoice, PicksByNameDescriptionNumberUniquePartOrDefault) {
  const auto s = system();
  const struct {
    std::optional<std::string> wanted;
    bool input;
    const char* expected;
  } cases[] = {
      {std::nullopt, true, "spk.monitor"},  {std::nullopt, false, "twin-b"},
      {"mic.monitor", true, "mic.monitor"}, {"Monitor of VirtualMic", true, "mic.monitor"},
      {"twin-a", false, "twin-a"},          {"4", true, "usb-headset"},
      {"Headset", false, "usb-headset"},    {"VirtualSpeaker", false, "spk"},
      {"VirtualMic", true, "mic.monitor"},  // an output is no microphone; its monitor matches
  };
  for (const auto& c : cases) {
    std::string why;
    const platform::AudioDevice* d = platform::chooseDevice(s, c.wanted, c.input, &why);
    ASSERT_NE(d, nullptr) << c.wanted.value_or("(default)") << ": " << why;
    EXPECT_EQ(d->id, c.expected) << c.wanted.value_or("(default)");
  }
}

TEST(DeviceChoice, RefusesWrongSideMissingAndAmbiguousNamesWithAReason) {
  const auto s = system();
  const struct {
    const char* wanted;
    bool input;
    const char* why;
  } cases[] = {
      {"1", true, "no input device '1'"},
      {"Monitor", true, "more than one input device matches 'Monitor': spk.monitor, mic.monitor"},
      {"Twin", false, "more than one output device matches 'Twin': twin-a, twin-b"},
      {"Nothing", false, "no output device 'Nothing'"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(platform::chooseDevice(s, std::string(c.wanted), c.input, &why), nullptr) << c.wanted;
    EXPECT_EQ(why, c.why);
  }
  platform::AudioSystem empty;
  empty.apiName = "PulseAudio";
  std::string why;
  EXPECT_EQ(platform::chooseDevice(empty, std::nullopt, false, &why), nullptr);
  EXPECT_EQ(why, "no loudspeaker (output device) on PulseAudio");
}

TEST(DeviceChoice, ListingShowsEveryTwinByNameWithTheDefaultsMarked) {
  const std::string listing = platform::describeDevices(system());
  for (const char* line : {"  output  twin-a       Twin\n", "  output  twin-b       Twin  [default output]\n",
                           "  in+out  usb-headset  USB Headset\n",
                           "  input   spk.monitor  Monitor of VirtualSpeaker  [default input]\n"}) {
    EXPECT_NE(listing.find(line), std::string::npos) << line << "in\n" << listing;
  }
  EXPECT_LT(listing.find("twin-b"), listing.find("spk.monitor")) << "outputs first";
  platform::AudioSystem empty;
  empty.apiName = "PulseAudio";
  EXPECT_EQ(platform::describeDevices(empty), "no sound devices found (PulseAudio has none at the moment)\n");
}
