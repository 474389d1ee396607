#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "platform/Progress.h"

namespace platform {

ProgressBar::ProgressBar(std::string label, bool enabled) : label_(std::move(label)), enabled_(enabled) {}

ProgressBar::~ProgressBar() { finish(); }

bool ProgressBar::stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void ProgressBar::update(double fraction) {
  if (!enabled_ || finished_) return;
  const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100.0);
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  constexpr int width = 30;
  const int filled = percent * width / 100;
  std::fprintf(stderr, "\r%s [%.*s%*s] %3d%%", label_.c_str(), filled,
               "##############################", width - filled, "", percent);
  std::fflush(stderr);
}

void ProgressBar::finish() {
  if (!enabled_ || finished_) return;
  finished_ = true;
  if (lastPercent_ >= 0) std::fprintf(stderr, "\n");
}

}  // namespace platform
