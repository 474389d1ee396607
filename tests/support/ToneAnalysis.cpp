#include "ToneAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tone {

double framePitch(const std::int16_t* x, std::size_t count, double minHz, double maxHz) {
  const auto maxLag = static_cast<std::size_t>(kRate / minHz);
  const auto minLag = static_cast<std::size_t>(kRate / maxHz);
  if (count < 2 * maxLag) return 0.0;
  const std::size_t window = count - maxLag;
  std::vector<double> d(maxLag + 1, 0.0);
  for (std::size_t tau = 1; tau <= maxLag; ++tau) {
    double sum = 0.0;
    for (std::size_t j = 0; j < window; ++j) {
      const double diff = static_cast<double>(x[j]) - x[j + tau];
      sum += diff * diff;
    }
    d[tau] = sum;
  }
  // Cumulative-mean-normalised difference; the first dip under the threshold is the period.
  std::vector<double> cmnd(maxLag + 1, 1.0);
  double running = 0.0;
  for (std::size_t tau = 1; tau <= maxLag; ++tau) {
    running += d[tau];
    cmnd[tau] = running > 0.0 ? d[tau] * static_cast<double>(tau) / running : 1.0;
  }
  for (std::size_t tau = std::max<std::size_t>(minLag, 2); tau < maxLag; ++tau) {
    if (cmnd[tau] >= 0.15) continue;
    while (tau + 1 < maxLag && cmnd[tau + 1] < cmnd[tau]) ++tau;
    const double a = cmnd[tau - 1];
    const double b = cmnd[tau];
    const double c = cmnd[tau + 1];
    const double denominator = a - 2.0 * b + c;
    const double shift = denominator != 0.0 ? 0.5 * (a - c) / denominator : 0.0;
    return kRate / (static_cast<double>(tau) + shift);
  }
  return 0.0;
}

double medianPitch(const std::vector<std::int16_t>& samples, std::size_t begin, std::size_t end) {
  constexpr std::size_t kFrame = 2048;
  constexpr std::size_t kHop = 1024;
  std::vector<double> pitches;
  end = std::min(end, samples.size());
  for (std::size_t at = begin; at + kFrame <= end; at += kHop) {
    const double f = framePitch(samples.data() + at, kFrame);
    if (f > 0.0) pitches.push_back(f);
  }
  if (pitches.empty()) return 0.0;
  std::nth_element(pitches.begin(), pitches.begin() + static_cast<std::ptrdiff_t>(pitches.size() / 2),
                   pitches.end());
  return pitches[pitches.size() / 2];
}

double medianPitchRatio(const std::vector<std::int16_t>& a, std::size_t aBegin,
                        const std::vector<std::int16_t>& b, std::size_t bBegin, std::size_t length) {
  constexpr std::size_t kFrame = 2048;
  constexpr std::size_t kHop = 512;
  std::vector<double> ratios;
  for (std::size_t t = 0; t + kFrame <= length; t += kHop) {
    if (aBegin + t + kFrame > a.size() || bBegin + t + kFrame > b.size()) break;
    const double pa = framePitch(a.data() + aBegin + t, kFrame);
    const double pb = framePitch(b.data() + bBegin + t, kFrame);
    if (pa > 0.0 && pb > 0.0) ratios.push_back(pb / pa);
  }
  if (ratios.empty()) return 0.0;
  std::nth_element(ratios.begin(), ratios.begin() + static_cast<std::ptrdiff_t>(ratios.size() / 2),
                   ratios.end());
  return ratios[ratios.size() / 2];
}

std::vector<Segment> findSegments(const std::vector<std::int16_t>& samples, int level,
                                  double bridgeSeconds, double minSeconds) {
  constexpr std::size_t kFrame = 441;  // 10 ms
  std::vector<Segment> raw;
  for (std::size_t at = 0; at + kFrame <= samples.size(); at += kFrame) {
    long sum = 0;
    for (std::size_t i = at; i < at + kFrame; ++i) sum += std::abs(static_cast<int>(samples[i]));
    if (sum / static_cast<long>(kFrame) < level) continue;
    if (!raw.empty() && raw.back().end == at) {
      raw.back().end = at + kFrame;
    } else {
      raw.push_back({at, at + kFrame});
    }
  }
  std::vector<Segment> merged;
  const auto bridge = static_cast<std::size_t>(bridgeSeconds * kRate);
  for (const Segment& s : raw) {
    if (!merged.empty() && s.begin - merged.back().end < bridge) {
      merged.back().end = s.end;
    } else {
      merged.push_back(s);
    }
  }
  std::erase_if(merged, [&](const Segment& s) { return s.seconds() < minSeconds; });
  return merged;
}

int peak(const std::vector<std::int16_t>& samples, std::size_t begin, std::size_t end) {
  int best = 0;
  for (std::size_t i = begin; i < std::min(end, samples.size()); ++i) {
    best = std::max(best, std::abs(static_cast<int>(samples[i])));
  }
  return best;
}

std::vector<std::int16_t> sawtooth(double hz, double seconds, int amplitude) {
  const auto count = static_cast<std::size_t>(seconds * kRate);
  std::vector<std::int16_t> out(count);
  for (std::size_t i = 0; i < count; ++i) {
    const double phase = std::fmod(static_cast<double>(i) * hz / kRate, 1.0);
    out[i] = static_cast<std::int16_t>(std::lround((2.0 * phase - 1.0) * amplitude));
  }
  return out;
}

}  // namespace tone
