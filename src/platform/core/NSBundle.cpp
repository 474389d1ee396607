#include "platform/NSBundle.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifndef QB_VERSION
#define QB_VERSION "0"
#endif

namespace {

namespace fs = std::filesystem;

bool isFolder(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// Found from the program's own path, never from the current directory or the source tree, so an
// installed tree keeps working wherever it is moved. A build tree carries a share/quibblers that
// leads to the source resources (made when it is configured); programs anywhere inside it, tests
// included, use that one.
std::string locateResources() {
  if (const char* fromEnv = std::getenv("QUIBBLERS_RESOURCES"); fromEnv && *fromEnv) return fromEnv;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) return {};
  const fs::path bin = exe.parent_path();
  if (const fs::path installed = bin.parent_path() / "share" / "quibblers"; isFolder(installed)) {
    return installed.string();
  }
  for (fs::path dir = bin; !dir.empty(); dir = dir.parent_path()) {
    if (fs::exists(dir / "CMakeCache.txt", ec)) {
      const fs::path built = dir / "share" / "quibblers";
      return isFolder(built) ? built.string() : std::string();
    }
    if (dir == dir.parent_path()) break;
  }
  return {};
}

}  // namespace

NSBundle& NSBundle::mainBundle() {
  static NSBundle bundle;
  return bundle;
}

NSBundle::NSBundle() : root_(locateResources()) {}

std::string NSBundle::missingReason() const {
  if (const char* fromEnv = std::getenv("QUIBBLERS_RESOURCES"); fromEnv && *fromEnv) {
    if (isFolder(root_)) return {};
    return "QUIBBLERS_RESOURCES names no folder: '" + root_ + "'";
  }
  if (!root_.empty() && isFolder(root_)) return {};
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  const fs::path expected = exe.parent_path().parent_path() / "share" / "quibblers";
  return "cannot find the pictures and sounds: no folder " + expected.string() +
         " (reinstall, or set QUIBBLERS_RESOURCES to the folder that holds them)";
}

std::optional<std::string> NSBundle::pathForResource(const std::string& name,
                                                     const std::string& type) const {
  if (root_.empty()) return std::nullopt;
  if (name.empty() || name.find('/') != std::string::npos || name.find("..") != std::string::npos) {
    return std::nullopt;
  }
  fs::path path = fs::path(root_) / (type.empty() ? name : name + "." + type);
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  return path.string();
}

std::optional<std::string> NSBundle::infoValue(const std::string& key) const {
  if (key == "CFBundleVersion" || key == "CFBundleShortVersionString") return std::string(QB_VERSION);
  if (key == "CFBundleName") return std::string("Quibblers");
  return std::nullopt;
}
