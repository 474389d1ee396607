#include "platform/NSFileManager.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace {
std::mutex overrideMutex;
std::optional<std::string> documentsOverride;

std::string homeDirectory() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/tmp";
}

std::string documentsDirectory() {
  {
    std::lock_guard lock(overrideMutex);
    if (documentsOverride) return *documentsOverride;
  }
  // XDG base directory rules: a relative XDG_DATA_HOME is ignored.
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome && dataHome[0] == '/') return std::string(dataHome) + "/quibblers";
  return homeDirectory() + "/.local/share/quibblers";
}
}  // namespace

std::vector<std::string> NSSearchPathForDirectoriesInDomains(NSSearchPathDirectory directory,
                                                             NSSearchPathDomainMask domains,
                                                             bool /*expandTilde*/) {
  if (directory != NSDocumentDirectory || (domains & NSUserDomainMask) == 0) return {};
  return {documentsDirectory()};
}

NSFileManager& NSFileManager::defaultManager() {
  static NSFileManager manager;
  return manager;
}

bool NSFileManager::fileExistsAtPath(const std::string& path) const {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

bool NSFileManager::createDirectoryAtPath(const std::string& path, bool intermediates) const {
  if (path.empty()) return false;
  if (intermediates) {
    const auto slash = path.find_last_of('/', path.size() > 1 ? path.size() - 2 : 0);
    if (slash != std::string::npos && slash > 0) {
      const std::string parent = path.substr(0, slash);
      struct stat info;
      if (stat(parent.c_str(), &info) != 0 && !createDirectoryAtPath(parent, true)) return false;
    }
  }
  if (mkdir(path.c_str(), 0777) == 0) return true;
  struct stat info;
  // Losing a race to another creator is fine as long as a directory is there now.
  return errno == EEXIST && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

namespace platform {
void setDocumentsDirectory(std::optional<std::string> path) {
  std::lock_guard lock(overrideMutex);
  documentsOverride = std::move(path);
}
}  // namespace platform
