#include "RawWav.h"

#include <cstdio>

bool writeRawPcmWav(const std::string& path, std::uint16_t channels, std::uint16_t bitsPerSample,
                    std::uint32_t sampleRate, const std::vector<std::uint8_t>& data) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const std::uint16_t align = static_cast<std::uint16_t>(channels * bitsPerSample / 8);
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(data.size());
  const std::uint32_t riff = 36 + dataBytes, fmtSize = 16, byteRate = sampleRate * align;
  const std::uint16_t pcm = 1;
  std::fwrite("RIFF", 1, 4, f);
  std::fwrite(&riff, 4, 1, f);
  std::fwrite("WAVEfmt ", 1, 8, f);
  std::fwrite(&fmtSize, 4, 1, f);
  std::fwrite(&pcm, 2, 1, f);
  std::fwrite(&channels, 2, 1, f);
  std::fwrite(&sampleRate, 4, 1, f);
  std::fwrite(&byteRate, 4, 1, f);
  std::fwrite(&align, 2, 1, f);
  std::fwrite(&bitsPerSample, 2, 1, f);
  std::fwrite("data", 1, 4, f);
  std::fwrite(&dataBytes, 4, 1, f);
  std::fwrite(data.data(), 1, data.size(), f);
  return std::fclose(f) == 0;
}
