// The small pieces the upload is made of: device facts, form encoding, the server setting.
#include <gtest/gtest.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "CollectionServer.h"
#include "FormEncoding.h"
#include "platform/UIDevice.h"

TEST(DeviceFacts, IdentifierIsAnAppSpecificHashNeverTheMachineId) {
  const std::string machineId = "3d1219c7c4c5404aaa1f6d2a48adfda4";
  const std::string id = platform::appSpecificMachineId(machineId + "\n");
  // HMAC-SHA256 keyed by the machine id over the application's id, shaped as a v4 UUID.
  EXPECT_EQ(id, "95c51bc7ac154d5ebbfbb79b613efcef");  // computed independently (Python hmac)
  EXPECT_EQ(id.size(), 32u);
  EXPECT_EQ(id[12], '4');
  EXPECT_NE(id, machineId);
  EXPECT_NE(platform::appSpecificMachineId("00000000000000000000000000000001"), id);
  EXPECT_EQ(platform::appSpecificMachineId(""), "");
  EXPECT_EQ(platform::appSpecificMachineId("not hex at all, not hex at all!!"), "");
}

TEST(DeviceFacts, SystemVersionFromOsRelease) {
  EXPECT_EQ(platform::osReleaseVersion("NAME=\"Debian\"\nVERSION_ID=\"12\"\nID=debian\n"), "12");
  EXPECT_EQ(platform::osReleaseVersion("VERSION_ID=22.04"), "22.04");
  EXPECT_EQ(platform::osReleaseVersion("VERSION_ID='3.18'\n"), "3.18");
  EXPECT_EQ(platform::osReleaseVersion("NAME=Arch\nBUILD_ID=rolling\n"), "");
}

TEST(DeviceFacts, SysctlAnswersTheMachineAndNothingElse) {
  UIDevice::currentDevice().setMachine("aarch64");
  char buffer[32];
  size_t length = sizeof buffer;
  ASSERT_EQ(sysctlbyname("hw.machine", buffer, &length, nullptr, 0), 0);
  EXPECT_STREQ(buffer, "aarch64");
  EXPECT_EQ(length, 8u);
  length = 7;  // no room for the NUL
  EXPECT_EQ(sysctlbyname("hw.machine", buffer, &length, nullptr, 0), -1);
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_EQ(sysctlbyname("hw.model", buffer, &length, nullptr, 0), -1);
  EXPECT_EQ(errno, ENOENT);
  UIDevice::currentDevice().resetToSystemFacts();
  EXPECT_FALSE(UIDevice::currentDevice().machine().empty());
}

TEST(FormEncoding, EverythingButUnreservedIsEscaped) {
  EXPECT_EQ(formEncode("azAZ09-._~"), "azAZ09-._~");
  EXPECT_EQ(formEncode("a&b=c+d%e f"), "a%26b%3Dc%2Bd%25e%20f");
  EXPECT_EQ(formEncode("{\"k\":\"ü\"}"), "%7B%22k%22%3A%22%C3%BC%22%7D");
  EXPECT_EQ(formEncode(std::string("\0\xff", 2)), "%00%FF");
}

TEST(FormEncoding, Utf16LengthCountsSurrogatePairsTwice) {
  EXPECT_EQ(utf16Length(""), 0u);
  EXPECT_EQ(utf16Length("abc"), 3u);
  EXPECT_EQ(utf16Length("Grüße"), 5u);
  EXPECT_EQ(utf16Length("日本"), 2u);
  EXPECT_EQ(utf16Length("🐹"), 2u);
  EXPECT_EQ(utf16Length("\xff\xfe"), 2u);      // not UTF-8: one unit per byte
  EXPECT_EQ(utf16Length("\xe6\x97"), 2u);      // cut short
}

TEST(FormEncoding, IllFormedUtf8BecomesReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";  // U+FFFD
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Grüße 日本 🐹", "Grüße 日本 🐹"},
      {"a\xFF" "b", "a" + r + "b"},
      {"\xC0\xAF", r + r},                   // overlong: each byte on its own
      {"\xED\xA0\x80", r + r + r},          // a surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"\xE6\x97" "x", r + "x"},             // cut short: one for the whole beginning
      {"\xF0\x9F\x90", r},
      {"\x80\x80", r + r},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(withValidUtf8(in), out) << formEncode(in);
}

TEST(CollectionServerSetting, AcceptsHostsWithOptionalPortOnly) {
  EXPECT_TRUE(CollectionServer::parse("127.0.0.1:8787"));
  EXPECT_TRUE(CollectionServer::parse("collector.example.com"));
  EXPECT_EQ(CollectionServer::parse("[::1]:80")->host, "::1");
  EXPECT_EQ(CollectionServer::parse("[::1]:80")->port, 80);
  EXPECT_EQ(CollectionServer::parse("[::ffff:1.2.3.4]")->host, "::ffff:1.2.3.4");
  for (const char* bad : {"", ":80", "host:", "host:0", "host:65536", "host:80x", "http://host", "host/path",
                          "ho st", "[::1", "[]:80", "-host", "host:80:81", "[7]:80", "[:::]", "[1.2.3.4]",
                          "[fe80::1%eth0]", "[::1]x"}) {
    EXPECT_FALSE(CollectionServer::parse(bad)) << bad;
  }
}

TEST(CollectionServerSetting, SetKeepsTheOldValueWhenMalformed) {
  EXPECT_EQ(CollectionServer::hostAndPort(), QB_DEFAULT_COLLECTION_SERVER);
  ASSERT_TRUE(CollectionServer::set("collector.example:9000"));
  EXPECT_EQ(CollectionServer::url(), "http://collector.example:9000/");
  EXPECT_EQ(CollectionServer::hostName(), "collector.example");
  EXPECT_FALSE(CollectionServer::set("collector.example:nope"));
  EXPECT_EQ(CollectionServer::hostAndPort(), "collector.example:9000");
  ASSERT_TRUE(CollectionServer::set("[fe80::1]"));
  EXPECT_EQ(CollectionServer::hostName(), "fe80::1");
  EXPECT_EQ(CollectionServer::url(), "http://[fe80::1]/");
  CollectionServer::reset();
  EXPECT_EQ(CollectionServer::hostAndPort(), QB_DEFAULT_COLLECTION_SERVER);
}
