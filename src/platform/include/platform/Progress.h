#pragma once
// A one-line progress bar on the terminal (stderr), drawn only when stderr is a terminal.
#include <string>

namespace platform {

class ProgressBar {
 public:
  explicit ProgressBar(std::string label, bool enabled);
  ~ProgressBar();
  // fraction in 0..1; redraws at most once per whole percent.
  void update(double fraction);
  void finish();
  static bool stderrIsTerminal();

 private:
  std::string label_;
  bool enabled_;
  int lastPercent_ = -1;
  bool finished_ = false;
};

}  // namespace platform
