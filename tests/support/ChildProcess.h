#pragma once
// A program started by a test, with its own environment additions and its output in a file.
// It is stopped by its process id only; the destructor kills it if the test did not.
#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

class ChildProcess {
 public:
  // Starts `argv[0]` (searched in PATH) with `env` added to the environment; stdout and stderr
  // go to `logFile` (or nowhere when empty).
  ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
               const std::string& logFile = "");
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // Sends `signal`, then waits up to `seconds` for the exit; the exit status (128 + signal when
  // killed by one), or none if it is still running.
  std::optional<int> stop(int signal, double seconds);
  // Waits up to `seconds` for the program to end by itself.
  std::optional<int> wait(double seconds);

  // True when `program` can be found in PATH.
  static bool available(const std::string& program);

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};
