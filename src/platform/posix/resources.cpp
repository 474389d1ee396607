#include "platform/resources.h"

#include <cstdlib>
#include <filesystem>

#ifndef QB_RESOURCE_DIR
#define QB_RESOURCE_DIR "resources"
#endif
#ifndef QB_VERSION
#define QB_VERSION "0"
#endif

NSBundle& NSBundle::mainBundle() {
  static NSBundle bundle;
  return bundle;
}

NSBundle::NSBundle() {
  const char* fromEnv = std::getenv("QUIBBLERS_RESOURCES");
  root_ = (fromEnv && *fromEnv) ? fromEnv : QB_RESOURCE_DIR;
}

std::optional<std::string> NSBundle::pathForResource(const std::string& name,
                                                     const std::string& type) const {
  if (name.empty() || name.find('/') != std::string::npos || name.find("..") != std::string::npos) {
    return std::nullopt;
  }
  std::filesystem::path path = std::filesystem::path(root_) / (type.empty() ? name : name + "." + type);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  return path.string();
}

std::optional<std::string> NSBundle::infoValue(const std::string& key) const {
  if (key == "CFBundleVersion" || key == "CFBundleShortVersionString") return std::string(QB_VERSION);
  if (key == "CFBundleName") return std::string("Quibblers");
  return std::nullopt;
}
