#include "TerminationSignals.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {
sigset_t terminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}
}  // namespace

void TerminationSignals::block() {
  const sigset_t set = terminationSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TerminationSignals::TerminationSignals(platform::RunLoop& loop, std::function<void()> onSignal)
    : loop_(loop) {
  const sigset_t set = terminationSet();
  fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0) return;
  source_ = loop_.addFdSource(fd_, POLLIN, [this, onSignal = std::move(onSignal)](short) {
    signalfd_siginfo info;
    bool any = false;
    while (read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) any = true;
    if (any && onSignal) onSignal();
  });
}

TerminationSignals::~TerminationSignals() {
  if (source_) loop_.removeFdSource(source_);
  if (fd_ >= 0) close(fd_);
}
