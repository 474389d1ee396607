#include "platform/Modules.h"

#include <dlfcn.h>

#include <filesystem>
#include <map>
#include <system_error>

#ifndef QB_MODULE_INSTALL_DIR
#define QB_MODULE_INSTALL_DIR "lib/quibblers"
#endif

namespace platform {

namespace {
namespace fs = std::filesystem;

// Found like the resources: from the program's own path, never from the current directory.
std::string locateModules() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec || exe.empty()) return {};
  const fs::path bin = exe.parent_path();
  for (fs::path dir = bin; !dir.empty(); dir = dir.parent_path()) {
    if (fs::exists(dir / "CMakeCache.txt", ec)) return (dir / "lib" / "quibblers").string();
    if (dir == dir.parent_path()) break;
  }
  return (bin.parent_path() / QB_MODULE_INSTALL_DIR).string();
}
}  // namespace

std::string moduleFolder() {
  static const std::string folder = locateModules();
  return folder;
}

Result<void*> moduleSymbol(const char* name, const char* symbol) {
  static std::map<std::string, void*> loaded;  // main thread only; never unloaded
  void*& handle = loaded[name];
  const std::string path = moduleFolder() + "/" + name + ".so";
  if (!handle) {
    handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!handle) {
      const char* why = dlerror();
      return fail(std::string("cannot load the program's ") + name + " module (" + (why ? why : path) +
                      "); reinstall quibblers",
                  Cause::kModuleMissing);
    }
  }
  void* address = dlsym(handle, symbol);
  if (!address) {
    return fail("the " + std::string(name) + " module " + path + " lacks " + symbol +
                    " (from another version?); reinstall quibblers",
                Cause::kModuleMissing);
  }
  return address;
}

}  // namespace platform
