#pragma once
// UIDevice and sysctlbyname("hw.machine") stand-ins: the facts a usage report carries about the
// machine. Read from the system once; tests may replace any of them.
#include <cstddef>
#include <string>
#include <string_view>

class UIDevice {
 public:
  static UIDevice& currentDevice();

  // An identifier derived from /etc/machine-id for this application only (32 hex digits); the
  // machine id itself never leaves the machine. Empty when the machine has no id.
  const std::string& uniqueIdentifier() const { return uniqueIdentifier_; }
  // The product name from DMI, else "Linux".
  const std::string& model() const { return model_; }
  // VERSION_ID from os-release, else empty.
  const std::string& systemVersion() const { return systemVersion_; }
  // The hardware machine name (uname -m); what sysctlbyname answers for "hw.machine".
  const std::string& machine() const { return machine_; }

  void setUniqueIdentifier(std::string value) { uniqueIdentifier_ = std::move(value); }
  void setModel(std::string value) { model_ = std::move(value); }
  void setSystemVersion(std::string value) { systemVersion_ = std::move(value); }
  void setMachine(std::string value) { machine_ = std::move(value); }
  // Reads every fact from the system again.
  void resetToSystemFacts();

 private:
  UIDevice();
  std::string uniqueIdentifier_;
  std::string model_;
  std::string systemVersion_;
  std::string machine_;
};

// Knows "hw.machine" only. 0 on success with a NUL-terminated value in `oldp`; -1 with errno
// ENOENT for other names, ENOMEM when the value and its NUL do not fit in *oldlenp, EPERM when
// asked to set a value.
int sysctlbyname(const char* name, void* oldp, std::size_t* oldlenp, const void* newp,
                 std::size_t newlen);

namespace platform {
// The identifier UIDevice derives from a machine id text (32 hex digits): HMAC-SHA256 keyed by
// the machine id over this application's own id, shaped as a version-4 UUID. Empty for an id
// that is not 32 hex digits.
std::string appSpecificMachineId(std::string_view machineIdText);
// VERSION_ID from os-release text; empty when absent.
std::string osReleaseVersion(std::string_view osReleaseText);
}  // namespace platform
