#pragma once
// Pitch and loudness analysis of 16-bit mono 44100 Hz sound, for checking the voice engine.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tone {

constexpr double kRate = 44100.0;

// Fundamental frequency of one frame (YIN), or 0 when it is not clearly periodic.
double framePitch(const std::int16_t* samples, std::size_t count, double minHz = 70.0,
                  double maxHz = 900.0);

// Median fundamental over the voiced frames of [begin, end); 0 when none is voiced.
double medianPitch(const std::vector<std::int16_t>& samples, std::size_t begin, std::size_t end);

// Median over frames voiced in both of b[bBegin + t] / a[aBegin + t] pitch ratios, t < length;
// 0 when no frame is voiced in both.
double medianPitchRatio(const std::vector<std::int16_t>& a, std::size_t aBegin,
                        const std::vector<std::int16_t>& b, std::size_t bBegin, std::size_t length);

struct Segment {
  std::size_t begin;  // sample index
  std::size_t end;    // one past the last sample
  double seconds() const { return static_cast<double>(end - begin) / kRate; }
};

// Stretches of sound: 10 ms frames whose mean absolute value reaches `level`, with gaps shorter
// than `bridgeSeconds` bridged and pieces shorter than `minSeconds` dropped.
std::vector<Segment> findSegments(const std::vector<std::int16_t>& samples, int level,
                                  double bridgeSeconds = 0.2, double minSeconds = 0.1);

// Largest absolute sample in [begin, end).
int peak(const std::vector<std::int16_t>& samples, std::size_t begin, std::size_t end);

// A sawtooth at `hz`, `seconds` long, peak `amplitude`.
std::vector<std::int16_t> sawtooth(double hz, double seconds, int amplitude);

}  // namespace tone
