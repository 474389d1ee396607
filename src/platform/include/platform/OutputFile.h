#pragma once
// Outputs are written to a temporary file beside their final name (same folder, so a rename
// puts them in place at once) and renamed only when complete.
#include <string>

#include "platform/Status.h"

namespace platform {

struct TemporaryFile {
  int fd;
  std::string path;
};

// Creates a new empty file beside `path`, named after it and `role`, readable only by this user
// until makePublic(). A failure names `path` and the system's reason.
Result<TemporaryFile> createTemporaryBeside(const std::string& path, const std::string& role);
// Gives `fd` the permissions a newly created file (or folder) gets: 0666 (0777) less the umask.
void makePublic(int fd, bool folder = false);
// Flushes `fd` to disk and closes it. A failure says "cannot write NAME: reason".
Status syncAndClose(int fd, const std::string& name);

}  // namespace platform
