#include "platform/Reachability.h"

#include <arpa/inet.h>
#include <linux/rtnetlink.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/RunLoop.h"
#include "RouteTable.h"

struct __SCNetworkReachability {
  struct Schedule {
    platform::RunLoop* loop = nullptr;
    int fd = -1;
    platform::RunLoop::Id source = 0;
    SCNetworkReachabilityFlags last = 0;
    bool known = false;
  };

  bool byName = false;
  std::string name;          // host name, or the address as text
  sockaddr_storage address{};
  SCNetworkReachabilityCallBack callback = nullptr;
  SCNetworkReachabilityContext context{};
  std::vector<Schedule> schedules;
};

namespace {

std::mutex overrideMutex;
platform::ReachabilityFlagsOverride flagsOverride;

bool overriddenFlags(const std::string& target, SCNetworkReachabilityFlags* flags, bool& answered) {
  platform::ReachabilityFlagsOverride current;
  {
    std::lock_guard lock(overrideMutex);
    current = flagsOverride;
  }
  answered = static_cast<bool>(current);
  return answered ? current(target, flags) : false;
}

bool flagsForAddress(const sockaddr* address, SCNetworkReachabilityFlags* flags) {
  std::optional<platform::netlink::Route> route;
  const bool any = address->sa_family == AF_INET &&
                   reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr == htonl(INADDR_ANY);
  // 0.0.0.0 stands for "any network": the default route answers it.
  if (!(any ? platform::netlink::defaultRoute(route) : platform::netlink::routeTo(address, route))) return false;
  std::optional<platform::netlink::Link> link;
  if (route && route->type != RTN_LOCAL && !platform::netlink::linkByIndex(route->outputInterface, link)) {
    return false;
  }
  *flags = platform::netlink::flagsFor(route, link);
  return true;
}

bool flagsForName(const std::string& name, SCNetworkReachabilityFlags* flags) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &results) != 0) {
    *flags = 0;  // a name that does not resolve is not reachable
    return true;
  }
  bool readAny = false;
  SCNetworkReachabilityFlags best = 0;
  for (addrinfo* entry = results; entry; entry = entry->ai_next) {
    SCNetworkReachabilityFlags candidate = 0;
    if (!flagsForAddress(entry->ai_addr, &candidate)) continue;
    readAny = true;
    if (candidate & kSCNetworkReachabilityFlagsReachable) {
      best = candidate;
      break;
    }
  }
  freeaddrinfo(results);
  if (!readAny) return false;
  *flags = best;
  return true;
}

void removeSchedule(SCNetworkReachabilityRef target, size_t index) {
  auto& schedule = target->schedules[index];
  schedule.loop->removeFdSource(schedule.source);
  close(schedule.fd);
  target->schedules.erase(target->schedules.begin() + static_cast<std::ptrdiff_t>(index));
}

void onChange(SCNetworkReachabilityRef target, platform::RunLoop* loop) {
  auto it = std::find_if(target->schedules.begin(), target->schedules.end(),
                         [loop](const auto& s) { return s.loop == loop; });
  if (it == target->schedules.end()) return;
  platform::netlink::drainChangeSocket(it->fd);
  SCNetworkReachabilityFlags flags = 0;
  if (!SCNetworkReachabilityGetFlags(target, &flags)) return;
  if (it->known && it->last == flags) return;
  it->known = true;
  it->last = flags;
  // The callback may unschedule or release the target: touch nothing after it.
  if (target->callback) target->callback(target, flags, target->context.info);
}

}  // namespace

SCNetworkReachabilityRef SCNetworkReachabilityCreateWithName(const void* /*allocator*/, const char* nodename) {
  if (!nodename || !*nodename) return nullptr;
  auto* target = new __SCNetworkReachability;
  target->byName = true;
  target->name = nodename;
  return target;
}

SCNetworkReachabilityRef SCNetworkReachabilityCreateWithAddress(const void* /*allocator*/, const sockaddr* address) {
  if (!address) return nullptr;
  char text[INET6_ADDRSTRLEN] = {};
  auto* target = new __SCNetworkReachability;
  if (address->sa_family == AF_INET) {
    std::memcpy(&target->address, address, sizeof(sockaddr_in));
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    std::memcpy(&target->address, address, sizeof(sockaddr_in6));
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  } else {
    delete target;
    return nullptr;
  }
  target->name = text;
  return target;
}

void SCNetworkReachabilityRelease(SCNetworkReachabilityRef target) {
  if (!target) return;
  while (!target->schedules.empty()) removeSchedule(target, target->schedules.size() - 1);
  if (target->context.release && target->context.info) target->context.release(target->context.info);
  delete target;
}

bool SCNetworkReachabilityGetFlags(SCNetworkReachabilityRef target, SCNetworkReachabilityFlags* flags) {
  if (!target || !flags) return false;
  bool answered = false;
  const bool overridden = overriddenFlags(target->name, flags, answered);
  if (answered) return overridden;
  if (target->byName) return flagsForName(target->name, flags);
  return flagsForAddress(reinterpret_cast<const sockaddr*>(&target->address), flags);
}

bool SCNetworkReachabilitySetCallback(SCNetworkReachabilityRef target, SCNetworkReachabilityCallBack callback,
                                      SCNetworkReachabilityContext* context) {
  if (!target) return false;
  if (target->context.release && target->context.info) target->context.release(target->context.info);
  target->callback = callback;
  target->context = context ? *context : SCNetworkReachabilityContext{};
  if (target->context.retain && target->context.info) target->context.retain(target->context.info);
  return true;
}

bool SCNetworkReachabilityScheduleWithRunLoop(SCNetworkReachabilityRef target, CFRunLoopRef runLoop,
                                              CFStringRef /*runLoopMode*/) {
  if (!target || !runLoop) return false;
  for (const auto& schedule : target->schedules) {
    if (schedule.loop == runLoop) return true;
  }
  const int fd = platform::netlink::openChangeSocket();
  if (fd < 0) return false;
  __SCNetworkReachability::Schedule schedule;
  schedule.loop = runLoop;
  schedule.fd = fd;
  // The flags as they are now: only a change from them is reported.
  schedule.known = SCNetworkReachabilityGetFlags(target, &schedule.last);
  schedule.source = runLoop->addFdSource(fd, POLLIN, [target, runLoop](short) { onChange(target, runLoop); });
  target->schedules.push_back(schedule);
  return true;
}

bool SCNetworkReachabilityUnscheduleFromRunLoop(SCNetworkReachabilityRef target, CFRunLoopRef runLoop,
                                                CFStringRef /*runLoopMode*/) {
  if (!target) return false;
  for (size_t i = 0; i < target->schedules.size(); ++i) {
    if (target->schedules[i].loop == runLoop) {
      removeSchedule(target, i);
      return true;
    }
  }
  return false;
}

namespace platform {
void setReachabilityFlagsOverride(ReachabilityFlagsOverride override) {
  std::lock_guard lock(overrideMutex);
  flagsOverride = std::move(override);
}
}  // namespace platform
