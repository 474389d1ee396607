#pragma once
// The program's optional parts: the character view (GL, cairo), the desktop window (SDL) and the
// live sound devices (RtAudio). Each is a shared object loaded on the first path that needs it,
// so a headless answer never maps those libraries. They are found from the program's own path:
// an installed tree's ../lib/<multiarch triplet>/quibblers, a build tree's lib/quibblers.
#include <string>

#include "platform/Status.h"

namespace platform {

// The folder the modules are loaded from; empty when the program's own path is unknown.
std::string moduleFolder();

// The address of `symbol` in module `name` ("view", "window", "sound"), loading it once and for
// the rest of the run; a Cause::kModuleMissing failure when the module cannot be loaded or
// lacks the symbol.
Result<void*> moduleSymbol(const char* name, const char* symbol);

// moduleSymbol as a function of type F.
template <typename F>
Result<F*> moduleFunction(const char* name, const char* symbol) {
  auto address = moduleSymbol(name, symbol);
  if (!address) return address.error();
  return reinterpret_cast<F*>(*address);
}

}  // namespace platform

// Marks a module's entry points, which the program looks up by name.
#define QB_MODULE_ENTRY extern "C" __attribute__((visibility("default")))
