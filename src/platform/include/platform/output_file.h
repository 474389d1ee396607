#pragma once
// Outputs are written to a temporary file beside their final name (same folder, so a rename
// puts them in place at once) and renamed only when complete.
#include <string>

namespace platform {

// Creates a new empty file beside `path`, named after it and `role`, readable only by this user
// until makePublic(). Returns its descriptor and sets `temporary`; -1 with `error` set (naming
// `path` and the system's reason) when it cannot.
int createTemporaryBeside(const std::string& path, const std::string& role, std::string& temporary,
                          std::string& error);
// Gives `fd` the permissions a newly created file (or folder) gets: 0666 (0777) less the umask.
void makePublic(int fd, bool folder = false);
// Flushes `fd` to disk and closes it. False with `error` set ("cannot write NAME: reason").
bool syncAndClose(int fd, const std::string& name, std::string& error);

}  // namespace platform
