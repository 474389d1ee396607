#pragma once
// Uniform 32-bit random values for the capture callback (the greeting re-arm): no system call,
// lock or allocation, so it is safe on the audio thread. Each launcher seeds it before the audio
// set-up: a fresh seed live, a fixed one offline so that runs are repeatable.
#include <cstdint>

std::uint32_t engineRandom() noexcept;
void seedEngineRandom(std::uint64_t seed) noexcept;
// A seed from the system's entropy source (main thread).
std::uint64_t freshRandomSeed();
