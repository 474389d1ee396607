#include "platform/UIDevice.h"

#include <nettle/hmac.h>
#include <sys/utsname.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// This application's own id: the machine id is only ever used as the key of a hash over it, so
// two applications on one machine cannot match their reports.
constexpr unsigned char kApplicationId[16] = {0x83, 0x9d, 0x74, 0x89, 0x97, 0x1e, 0x3f, 0xf2,
                                              0xb4, 0xd9, 0xc4, 0x65, 0x1c, 0x44, 0x24, 0xcb};

std::string readFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string trimmed(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return std::string(text.substr(begin, end - begin));
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

namespace platform {

std::string appSpecificMachineId(std::string_view machineIdText) {
  const std::string id = trimmed(machineIdText);
  if (id.size() != 32) return {};
  unsigned char key[16];
  for (size_t i = 0; i < 16; ++i) {
    const int high = hexDigit(id[2 * i]);
    const int low = hexDigit(id[2 * i + 1]);
    if (high < 0 || low < 0) return {};
    key[i] = static_cast<unsigned char>(high * 16 + low);
  }
  // nettle: a plain function call, where OpenSSL's first digest loads its configuration and
  // providers (about 2 ms of every run).
  unsigned char digest[SHA256_DIGEST_SIZE];
  hmac_sha256_ctx context;
  hmac_sha256_set_key(&context, sizeof key, key);
  hmac_sha256_update(&context, sizeof kApplicationId, kApplicationId);
  hmac_sha256_digest(&context, sizeof digest, digest);
  digest[6] = static_cast<unsigned char>((digest[6] & 0x0F) | 0x40);  // version 4
  digest[8] = static_cast<unsigned char>((digest[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static constexpr char hex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < 16; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 0x0F];
  }
  return out;
}

std::string osReleaseVersion(std::string_view text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    constexpr std::string_view key = "VERSION_ID=";
    if (line.substr(0, key.size()) != key) continue;
    std::string value = trimmed(line.substr(key.size()));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return {};
}

}  // namespace platform

UIDevice& UIDevice::currentDevice() {
  static UIDevice device;
  return device;
}

UIDevice::UIDevice() { resetToSystemFacts(); }

void UIDevice::resetToSystemFacts() {
  std::string machineId = readFile("/etc/machine-id");
  if (trimmed(machineId).empty()) machineId = readFile("/var/lib/dbus/machine-id");
  uniqueIdentifier_ = platform::appSpecificMachineId(machineId);

  model_ = trimmed(readFile("/sys/class/dmi/id/product_name"));
  if (model_.empty()) model_ = "Linux";

  std::string osRelease = readFile("/etc/os-release");
  if (osRelease.empty()) osRelease = readFile("/usr/lib/os-release");
  systemVersion_ = platform::osReleaseVersion(osRelease);

  utsname names;
  machine_ = uname(&names) == 0 ? names.machine : "";
}

int sysctlbyname(const char* name, void* oldp, std::size_t* oldlenp, const void* newp,
                 std::size_t newlen) {
  if (!name || std::strcmp(name, "hw.machine") != 0) {
    errno = ENOENT;
    return -1;
  }
  if (newp || newlen) {
    errno = EPERM;
    return -1;
  }
  const std::string& value = UIDevice::currentDevice().machine();
  if (!oldlenp) {
    errno = EINVAL;
    return -1;
  }
  if (!oldp) {  // size query
    *oldlenp = value.size() + 1;
    return 0;
  }
  if (value.size() + 1 > *oldlenp) {
    errno = ENOMEM;
    return -1;
  }
  std::memcpy(oldp, value.c_str(), value.size() + 1);
  *oldlenp = value.size() + 1;
  return 0;
}
