#include "TerminationSignals.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

#include "platform/Interruption.h"

namespace {

// Sent to the main thread only, to break it out of a blocking call; its handler does nothing.
int kickSignal() { return SIGRTMIN + 2; }

int wakePipe[2] = {-1, -1};
pthread_t mainThread;
std::atomic<bool> acknowledged{false};

sigset_t terminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

void onKick(int) {}

void* waitForSignals(void*) {
  const sigset_t set = terminationSet();
  const timespec tick{0, 100'000'000};
  bool signalled = false;
  for (;;) {
    // Once signalled, wake every 100 ms to interrupt the main thread again: a signal that came
    // just before it entered a blocking call would otherwise be missed.
    const int signal = signalled ? sigtimedwait(&set, nullptr, &tick) : sigwaitinfo(&set, nullptr);
    if (signal > 0) {
      platform::requestInterruption(signal);
      if (!signalled) {
        signalled = true;
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = write(wakePipe[1], &byte, 1);
      }
    } else if (errno != EAGAIN && errno != EINTR) {
      continue;
    }
    if (signalled && !acknowledged.load(std::memory_order_acquire)) {
      pthread_kill(mainThread, kickSignal());
    }
  }
  return nullptr;
}

}  // namespace

void TerminationSignals::install() {
  if (wakePipe[0] >= 0) return;
  signal(SIGPIPE, SIG_IGN);
  const sigset_t set = terminationSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  mainThread = pthread_self();
  struct sigaction kick {};
  kick.sa_handler = onKick;
  sigemptyset(&kick.sa_mask);
  kick.sa_flags = 0;  // no SA_RESTART: the interrupted call returns EINTR
  sigaction(kickSignal(), &kick, nullptr);
  pthread_t watcher;
  if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) == 0 &&
      pthread_create(&watcher, nullptr, waitForSignals, nullptr) == 0) {
    pthread_detach(watcher);
    return;
  }
  // Nobody would take them: let them end the process as they would by default.
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

int TerminationSignals::received() { return platform::interruptionSignal(); }

void TerminationSignals::acknowledge() { acknowledged.store(true, std::memory_order_release); }

TerminationSignals::TerminationSignals(platform::RunLoop& loop, std::function<void()> onSignal)
    : loop_(loop) {
  install();
  if (wakePipe[0] < 0) return;
  source_ = loop_.addFdSource(wakePipe[0], POLLIN, [onSignal = std::move(onSignal)](short) {
    char drain[16];
    while (read(wakePipe[0], drain, sizeof drain) > 0) {
    }
    acknowledge();
    if (onSignal) onSignal();
  });
}

TerminationSignals::~TerminationSignals() {
  if (source_) loop_.removeFdSource(source_);
}
