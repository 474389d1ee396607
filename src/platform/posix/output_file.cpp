#include "platform/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace platform {

namespace {
// The umask, read without changing it (umask(2) would, for every thread at once).
mode_t currentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  }
  return 022;
}
}  // namespace

int createTemporaryBeside(const std::string& path, const std::string& role, std::string& temporary,
                          std::string& error) {
  const std::filesystem::path target(path);
  temporary = (target.parent_path() / ("." + target.filename().string() + "." + role + "-XXXXXX")).string();
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    temporary.clear();
  }
  return fd;
}

void makePublic(int fd, bool folder) {
  static const mode_t mask = currentUmask();
  fchmod(fd, (folder ? 0777 : 0666) & ~mask);
}

bool syncAndClose(int fd, const std::string& name, std::string& error) {
  bool ok = fsync(fd) == 0;
  if (!ok) error = "cannot write " + name + ": " + std::strerror(errno);
  if (close(fd) != 0 && ok) {
    error = "cannot write " + name + ": " + std::strerror(errno);
    ok = false;
  }
  return ok;
}

}  // namespace platform
