// Launch to first frame, headless: the time from process start (as the kernel tells it) to the
// first composited frame of the character, and the share of it spent creating the view. Run it
// through bench/app/answer-bench.sh, which repeats it in fresh processes.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "MainInterface.h"

namespace {

// Seconds since this process started, from /proc (start time in clock ticks since boot).
double secondsSinceProcessStart() {
  std::ifstream stat("/proc/self/stat");
  std::string field;
  for (int i = 0; i < 22 && stat >> field; ++i) {
  }
  const double start = std::stod(field) / static_cast<double>(sysconf(_SC_CLK_TCK));
  timespec now{};
  clock_gettime(CLOCK_BOOTTIME, &now);
  return now.tv_sec + now.tv_nsec * 1e-9 - start;
}

}  // namespace

int main() {
  const auto before = std::chrono::steady_clock::now();
  const double atMain = secondsSinceProcessStart();
  std::string error;
  auto ui = MainInterface::load(false, false, error);
  if (!ui) {
    std::fprintf(stderr, "first_frame_bench: %s\n", error.c_str());
    return 1;
  }
  const std::uint8_t* frame = ui->window->composite();
  const double viewSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
  const double total = secondsSinceProcessStart();
  std::printf("first_frame_s=%.3f view_s=%.3f before_main_s=%.3f pixel0=%u\n", total, viewSeconds, atMain,
              frame[0]);
  return 0;
}
