#include <gtest/gtest.h>

#include "AudioDeviceList.h"

namespace {
platform::AudioSystem system() {
  platform::AudioSystem s;
  s.apiName = "PulseAudio";
  s.devices = {{0, "Monitor of VirtualSpeaker", 1, 0, true, false},
               {1, "VirtualSpeaker", 0, 1, false, true},
               {2, "VirtualMic", 0, 1, false, false},
               {3, "Monitor of VirtualMic", 1, 0, false, false},
               {7, "USB Headset", 1, 2, false, false}};
  return s;
}
}  // namespace

TEST(DeviceChoice, DefaultsNamesNumbersAndUniqueParts) {
  const auto s = system();
  std::string why;
  EXPECT_EQ(platform::chooseDevice(s, std::nullopt, true, &why)->id, 0u);
  EXPECT_EQ(platform::chooseDevice(s, std::nullopt, false, &why)->id, 1u);
  EXPECT_EQ(platform::chooseDevice(s, "Monitor of VirtualMic", true, &why)->id, 3u);
  EXPECT_EQ(platform::chooseDevice(s, "7", true, &why)->id, 7u);
  EXPECT_EQ(platform::chooseDevice(s, "Headset", false, &why)->id, 7u);
  EXPECT_EQ(platform::chooseDevice(s, "VirtualSpeaker", false, &why)->id, 1u) << "an exact name wins";
}

TEST(DeviceChoice, WrongSideMissingAndAmbiguousNamesAreRefusedWithAReason) {
  const auto s = system();
  std::string why;
  EXPECT_EQ(platform::chooseDevice(s, "VirtualMic", true, &why)->id, 3u)
      << "an output is no microphone; its monitor is the one input that matches";
  EXPECT_EQ(platform::chooseDevice(s, "1", true, &why), nullptr);
  EXPECT_EQ(why, "no input device '1'");
  EXPECT_EQ(platform::chooseDevice(s, "Monitor", true, &why), nullptr);
  EXPECT_EQ(why, "more than one input device matches 'Monitor'");
  EXPECT_EQ(platform::chooseDevice(s, "Nothing", false, &why), nullptr);
  EXPECT_EQ(why, "no output device 'Nothing'");
  const std::string listing = platform::describeDevices(s);
  EXPECT_NE(listing.find("7: USB Headset (input and output)"), std::string::npos) << listing;
  EXPECT_NE(listing.find("[default input]"), std::string::npos);
}
