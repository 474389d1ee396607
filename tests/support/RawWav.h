#pragma once
// Writes a PCM WAV file byte by byte, in formats the app must refuse (8-bit, stereo, …), without
// going through the library the app itself reads WAV files with.
#include <cstdint>
#include <string>
#include <vector>

bool writeRawPcmWav(const std::string& path, std::uint16_t channels, std::uint16_t bitsPerSample,
                    std::uint32_t sampleRate, const std::vector<std::uint8_t>& data);
