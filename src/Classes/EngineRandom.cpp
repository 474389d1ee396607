#include "EngineRandom.h"

#include <random>

#include "Relaxed.h"

namespace {
Relaxed<std::uint64_t> state{0x9e3779b97f4a7c15ull};
}

// splitmix64: one 64-bit step per draw, the high half returned.
std::uint32_t engineRandom() noexcept {
  const std::uint64_t s = state + 0x9e3779b97f4a7c15ull;
  state = s;
  std::uint64_t z = s;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  z ^= z >> 31;
  return static_cast<std::uint32_t>(z >> 32);
}

void seedEngineRandom(std::uint64_t seed) noexcept { state = seed; }

std::uint64_t freshRandomSeed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}
