#include "platform/RunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <vector>

namespace platform {

namespace {
constexpr double kVirtualPollInterval = 0.002;

double monotonicSeconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

struct RunLoop::Impl {
  struct Timer {
    double due;
    double period;
    std::uint64_t order;  // ties fire in scheduling order
    std::shared_ptr<Task> task;
  };
  struct FdSource {
    int fd;
    short events;
    std::shared_ptr<FdCallback> callback;
  };

  bool virtualTime = false;
  double virtualNow = 0.0;
  double jumpLimit = std::numeric_limits<double>::infinity();
  double lastPoll = -std::numeric_limits<double>::infinity();  // real seconds
  Id nextId = 1;
  std::uint64_t nextOrder = 0;
  std::map<Id, Timer> timers;
  std::map<Id, FdSource> fds;
  std::atomic<bool> stopping{false};

  std::mutex postMutex;
  std::deque<Task> posted;
  int wakeFd = -1;

  double now() const { return virtualTime ? virtualNow : monotonicSeconds(); }

  bool hasPosted() {
    std::lock_guard lock(postMutex);
    return !posted.empty();
  }

  void runPosted() {
    std::deque<Task> batch;
    {
      std::lock_guard lock(postMutex);
      batch.swap(posted);
    }
    for (auto& task : batch) task();
  }

  // The earliest timer, or timers.end().
  std::map<Id, Timer>::iterator earliest() {
    return std::min_element(timers.begin(), timers.end(), [](const auto& a, const auto& b) {
      if (a.second.due != b.second.due) return a.second.due < b.second.due;
      return a.second.order < b.second.order;
    });
  }

  // Virtual time with nothing posted jumps to the next timer (within the jump limit).
  void advanceVirtualClock() {
    if (!virtualTime || hasPosted()) return;
    auto first = earliest();
    if (first != timers.end() && first->second.due > virtualNow && first->second.due <= jumpLimit) {
      virtualNow = first->second.due;
    }
  }

  // Fires every timer due at `t`, earliest first. A timer scheduled or re-armed during this pass
  // waits for the next one, so a zero-period loop cannot starve the rest.
  void fireDue(double t) {
    const std::uint64_t orderLimit = nextOrder;
    for (;;) {
      auto it = timers.end();
      for (auto candidate = timers.begin(); candidate != timers.end(); ++candidate) {
        const Timer& c = candidate->second;
        if (c.due > t || c.order >= orderLimit) continue;
        if (it == timers.end() || c.due < it->second.due ||
            (c.due == it->second.due && c.order < it->second.order)) {
          it = candidate;
        }
      }
      if (it == timers.end()) return;
      auto task = it->second.task;
      if (it->second.period > 0) {
        Timer& tm = it->second;
        tm.due += tm.period;
        // A real-time loop that fell far behind skips missed ticks instead of bursting.
        if (!virtualTime && tm.due < t) tm.due += (std::floor((t - tm.due) / tm.period) + 1) * tm.period;
        tm.order = nextOrder++;
      } else {
        timers.erase(it);
      }
      (*task)();
    }
  }
};

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {
  impl_->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

RunLoop::~RunLoop() {
  if (impl_->wakeFd >= 0) close(impl_->wakeFd);
}

RunLoop& RunLoop::main() {
  static RunLoop loop;
  return loop;
}

double RunLoop::now() const { return impl_->now(); }

void RunLoop::useVirtualTime(double start) {
  impl_->virtualTime = true;
  impl_->virtualNow = start;
}

bool RunLoop::isVirtualTime() const { return impl_->virtualTime; }

void RunLoop::useRealTime() {
  if (!impl_->virtualTime) return;
  const double shift = monotonicSeconds() - impl_->virtualNow;
  for (auto& [id, timer] : impl_->timers) timer.due += shift;
  impl_->virtualTime = false;
}

RunLoop::Id RunLoop::addTimer(double delaySeconds, double periodSeconds, Task task) {
  const Id id = impl_->nextId++;
  impl_->timers[id] = Impl::Timer{impl_->now() + std::max(0.0, delaySeconds),
                                  std::max(0.0, periodSeconds), impl_->nextOrder++,
                                  std::make_shared<Task>(std::move(task))};
  return id;
}

void RunLoop::cancelTimer(Id id) { impl_->timers.erase(id); }

bool RunLoop::hasTimer(Id id) const { return impl_->timers.count(id) != 0; }

RunLoop::Id RunLoop::addFdSource(int fd, short events, FdCallback callback) {
  const Id id = impl_->nextId++;
  impl_->fds[id] = Impl::FdSource{fd, events, std::make_shared<FdCallback>(std::move(callback))};
  return id;
}

void RunLoop::updateFdSource(Id id, short events) {
  auto it = impl_->fds.find(id);
  if (it != impl_->fds.end()) it->second.events = events;
}

void RunLoop::removeFdSource(Id id) { impl_->fds.erase(id); }

void RunLoop::post(Task task) {
  {
    std::lock_guard lock(impl_->postMutex);
    impl_->posted.push_back(std::move(task));
  }
  const std::uint64_t one = 1;
  if (impl_->wakeFd >= 0) [[maybe_unused]] auto n = write(impl_->wakeFd, &one, sizeof one);
}

void RunLoop::stop() {
  impl_->stopping = true;
  const std::uint64_t one = 1;
  if (impl_->wakeFd >= 0) [[maybe_unused]] auto n = write(impl_->wakeFd, &one, sizeof one);
}

void RunLoop::runOnce(double maxWaitSeconds) {
  Impl& d = *impl_;
  d.runPosted();

  // Wait for fds (or the wake-up) until the next timer, bounded by maxWaitSeconds. Virtual time
  // never waits: it only looks at what is ready now.
  double wait = std::max(0.0, maxWaitSeconds);
  auto next = d.earliest();
  if (next != d.timers.end()) wait = std::min(wait, std::max(0.0, next->second.due - d.now()));
  if (d.virtualTime || d.hasPosted() || d.stopping) wait = 0.0;

  // In virtual time the descriptors (uploads, the signal pipe) never decide the outcome, only
  // how soon it comes: a pass with timers to fire looks at them every few real milliseconds
  // instead of costing a system call each.
  if (d.virtualTime && next != d.timers.end()) {
    const double real = monotonicSeconds();
    if (real - d.lastPoll < kVirtualPollInterval) {
      d.runPosted();
      d.advanceVirtualClock();
      d.fireDue(d.now());
      return;
    }
    d.lastPoll = real;
  }

  std::vector<pollfd> pfds;
  std::vector<Id> ids;
  pfds.push_back(pollfd{d.wakeFd, POLLIN, 0});
  ids.push_back(0);
  for (const auto& [id, src] : d.fds) {
    pfds.push_back(pollfd{src.fd, src.events, 0});
    ids.push_back(id);
  }
  const int timeoutMs = static_cast<int>(std::ceil(wait * 1000.0));
  const int ready = poll(pfds.data(), pfds.size(), timeoutMs);
  if (ready > 0) {
    if (pfds[0].revents) {
      std::uint64_t count;
      [[maybe_unused]] auto n = read(d.wakeFd, &count, sizeof count);
    }
    for (size_t i = 1; i < pfds.size(); ++i) {
      if (!pfds[i].revents) continue;
      auto it = d.fds.find(ids[i]);
      if (it == d.fds.end()) continue;  // removed by an earlier callback of this pass
      auto callback = it->second.callback;
      (*callback)(pfds[i].revents);
    }
  }
  d.runPosted();
  d.advanceVirtualClock();
  d.fireDue(d.now());
}

void RunLoop::run() {
  impl_->stopping = false;
  while (!impl_->stopping) {
    if (impl_->virtualTime && impl_->timers.empty() && impl_->fds.empty() && !impl_->hasPosted()) {
      return;
    }
    runOnce(1.0);
  }
  impl_->stopping = false;
}

bool RunLoop::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
  impl_->stopping = false;
  const double deadline = now() + timeoutSeconds;
  // Virtual time must not jump past the deadline to reach a later timer.
  impl_->jumpLimit = deadline;
  while (!done() && !impl_->stopping && now() < deadline) {
    if (impl_->virtualTime && impl_->timers.empty() && impl_->fds.empty() && !impl_->hasPosted()) {
      break;
    }
    const double before = now();
    runOnce(std::min(0.05, std::max(0.0, deadline - now())));
    if (impl_->virtualTime && now() == before && !done() && !impl_->hasPosted()) {
      auto next = impl_->earliest();
      if (next == impl_->timers.end() || next->second.due > deadline) {
        impl_->virtualNow = std::max(impl_->virtualNow, deadline);
        if (impl_->fds.empty()) break;
      }
    }
  }
  impl_->jumpLimit = std::numeric_limits<double>::infinity();
  impl_->stopping = false;
  return done();
}

}  // namespace platform
