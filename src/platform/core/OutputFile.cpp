#include "platform/OutputFile.h"

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

Result<TemporaryFile> createTemporaryBeside(const std::string& path, const std::string& role) {
  const std::filesystem::path target(path);
  std::string temporary =
      (target.parent_path() / ("." + target.filename().string() + "." + role + "-XXXXXX")).string();
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return fail("cannot write " + path + ": " + std::strerror(errno));
  return TemporaryFile{fd, std::move(temporary)};
}

void makePublic(int fd, bool folder) {
  static const mode_t mask = currentUmask();
  fchmod(fd, (folder ? 0777 : 0666) & ~mask);
}

Status syncAndClose(int fd, const std::string& name) {
  Status status;
  if (fsync(fd) != 0) status = fail("cannot write " + name + ": " + std::strerror(errno));
  if (close(fd) != 0 && status) status = fail("cannot write " + name + ": " + std::strerror(errno));
  return status;
}

}  // namespace platform
