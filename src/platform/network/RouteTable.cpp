#include "RouteTable.h"

#include <net/if.h>
#include <net/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <vector>

#ifndef IFF_LOWER_UP
#define IFF_LOWER_UP 0x10000  // the carrier (linux/if.h, which clashes with net/if.h)
#endif

#ifndef ARPHRD_RAWIP
#define ARPHRD_RAWIP 519  // cellular modems in raw-IP mode
#endif

namespace platform::netlink {

namespace {

class Socket {
 public:
  explicit Socket(unsigned groups = 0, bool nonBlocking = false) {
    fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), NETLINK_ROUTE);
    if (fd_ < 0) return;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = groups;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// A request under construction: header, fixed part and attributes, aligned as netlink wants.
class Request {
 public:
  Request(unsigned short type, unsigned short flags, const void* body, size_t bodyLength) {
    buffer_.resize(NLMSG_LENGTH(bodyLength));
    auto* header = reinterpret_cast<nlmsghdr*>(buffer_.data());
    header->nlmsg_len = static_cast<unsigned>(buffer_.size());
    header->nlmsg_type = type;
    header->nlmsg_flags = flags;
    header->nlmsg_seq = 1;
    std::memcpy(NLMSG_DATA(header), body, bodyLength);
  }
  void addAttribute(unsigned short type, const void* data, size_t length) {
    const size_t offset = NLMSG_ALIGN(buffer_.size());
    buffer_.resize(offset + RTA_SPACE(length));
    auto* attribute = reinterpret_cast<rtattr*>(buffer_.data() + offset);
    attribute->rta_type = type;
    attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(length));
    std::memcpy(RTA_DATA(attribute), data, length);
    reinterpret_cast<nlmsghdr*>(buffer_.data())->nlmsg_len = static_cast<unsigned>(buffer_.size());
  }
  const char* data() const { return buffer_.data(); }
  size_t size() const { return buffer_.size(); }

 private:
  std::vector<char> buffer_;
};

enum class Outcome { ok, kernelError, ioError };

// Sends the request and hands every reply message to `onMessage` until the exchange ends. A
// kernel error (an NLMSG_ERROR with a non-zero code) is an answer, not an I/O failure.
Outcome exchange(const Request& request, const std::function<void(const nlmsghdr*)>& onMessage) {
  Socket socket;
  if (socket.fd() < 0) return Outcome::ioError;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(socket.fd(), request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&kernel),
             sizeof kernel) < 0) {
    return Outcome::ioError;
  }
  const bool dump = (reinterpret_cast<const nlmsghdr*>(request.data())->nlmsg_flags & NLM_F_DUMP) != 0;
  alignas(nlmsghdr) char buffer[32768];
  for (;;) {
    const ssize_t received = recv(socket.fd(), buffer, sizeof buffer, 0);
    if (received < 0) {
      if (errno == EINTR) continue;
      return Outcome::ioError;
    }
    if (received == 0) return Outcome::ioError;
    int remaining = static_cast<int>(received);
    for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(message, remaining);
         message = NLMSG_NEXT(message, remaining)) {
      if (message->nlmsg_type == NLMSG_DONE) return Outcome::ok;
      if (message->nlmsg_type == NLMSG_ERROR) {
        const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(message));
        return error->error == 0 ? Outcome::ok : Outcome::kernelError;
      }
      onMessage(message);
      if (!dump) return Outcome::ok;
    }
  }
}

struct ParsedRoute {
  Route route;
  int dstLength = 0;
  unsigned table = 0;
  unsigned priority = 0;
};

ParsedRoute parseRoute(const nlmsghdr* message) {
  ParsedRoute parsed;
  const auto* rt = static_cast<const rtmsg*>(NLMSG_DATA(message));
  parsed.route.type = rt->rtm_type;
  parsed.dstLength = rt->rtm_dst_len;
  parsed.table = rt->rtm_table;
  int length = static_cast<int>(RTM_PAYLOAD(message));
  for (auto* attribute = RTM_RTA(rt); RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
    switch (attribute->rta_type) {
      case RTA_GATEWAY:
      case RTA_VIA:
        parsed.route.hasGateway = true;
        break;
      case RTA_OIF:
        std::memcpy(&parsed.route.outputInterface, RTA_DATA(attribute), sizeof(int));
        break;
      case RTA_TABLE:
        std::memcpy(&parsed.table, RTA_DATA(attribute), sizeof(unsigned));
        break;
      case RTA_PRIORITY:
        std::memcpy(&parsed.priority, RTA_DATA(attribute), sizeof(unsigned));
        break;
      case RTA_MULTIPATH: {
        // Several next hops: the first one stands for the route.
        const auto* hop = static_cast<const rtnexthop*>(RTA_DATA(attribute));
        if (RTA_PAYLOAD(attribute) >= sizeof(rtnexthop) && hop->rtnh_len >= sizeof(rtnexthop)) {
          if (!parsed.route.outputInterface) parsed.route.outputInterface = hop->rtnh_ifindex;
          int hopLength = hop->rtnh_len - static_cast<int>(RTNH_ALIGN(sizeof(rtnexthop)));
          for (auto* nested = RTNH_DATA(hop); RTA_OK(nested, hopLength); nested = RTA_NEXT(nested, hopLength)) {
            if (nested->rta_type == RTA_GATEWAY || nested->rta_type == RTA_VIA) parsed.route.hasGateway = true;
          }
        }
        break;
      }
      default:
        break;
    }
  }
  return parsed;
}

bool linkWorks(int index) {
  std::optional<Link> link;
  return linkByIndex(index, link) && link && linkCarries(*link);
}

bool defaultRouteOf(unsigned char family, std::optional<Route>& best) {
  rtmsg body{};
  body.rtm_family = family;
  Request request(RTM_GETROUTE, NLM_F_REQUEST | NLM_F_DUMP, &body, sizeof body);
  std::vector<ParsedRoute> candidates;
  const Outcome outcome = exchange(request, [&](const nlmsghdr* message) {
    if (message->nlmsg_type != RTM_NEWROUTE) return;
    ParsedRoute parsed = parseRoute(message);
    if (parsed.dstLength == 0 && parsed.table == RT_TABLE_MAIN && parsed.route.type == RTN_UNICAST) {
      candidates.push_back(parsed);
    }
  });
  if (outcome != Outcome::ok) return false;
  const ParsedRoute* chosen = nullptr;
  for (const auto& candidate : candidates) {
    if (!linkWorks(candidate.route.outputInterface)) continue;
    if (!chosen || candidate.priority < chosen->priority) chosen = &candidate;
  }
  best = chosen ? std::optional<Route>(chosen->route) : std::nullopt;
  return true;
}

}  // namespace

bool routeTo(const sockaddr* address, std::optional<Route>& route) {
  route.reset();
  rtmsg body{};
  body.rtm_family = static_cast<unsigned char>(address->sa_family);
  const void* destination = nullptr;
  size_t destinationLength = 0;
  if (address->sa_family == AF_INET) {
    body.rtm_dst_len = 32;
    destination = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
    destinationLength = sizeof(in_addr);
  } else if (address->sa_family == AF_INET6) {
    body.rtm_dst_len = 128;
    destination = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    destinationLength = sizeof(in6_addr);
  } else {
    return false;
  }
  Request request(RTM_GETROUTE, NLM_F_REQUEST, &body, sizeof body);
  request.addAttribute(RTA_DST, destination, destinationLength);
  const Outcome outcome = exchange(request, [&](const nlmsghdr* message) {
    if (message->nlmsg_type == RTM_NEWROUTE) route = parseRoute(message).route;
  });
  // "Network is unreachable" and its kin are answers: there is no route.
  return outcome != Outcome::ioError;
}

bool defaultRoute(std::optional<Route>& route) {
  route.reset();
  if (!defaultRouteOf(AF_INET, route)) return false;
  if (route) return true;
  std::optional<Route> v6;
  if (defaultRouteOf(AF_INET6, v6)) route = v6;
  return true;
}

bool linkByIndex(int index, std::optional<Link>& link) {
  link.reset();
  if (index <= 0) return true;
  ifinfomsg body{};
  body.ifi_family = AF_UNSPEC;
  body.ifi_index = index;
  Request request(RTM_GETLINK, NLM_F_REQUEST, &body, sizeof body);
  const Outcome outcome = exchange(request, [&](const nlmsghdr* message) {
    if (message->nlmsg_type != RTM_NEWLINK) return;
    const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(message));
    Link found;
    found.flags = info->ifi_flags;
    found.type = info->ifi_type;
    int length = static_cast<int>(IFLA_PAYLOAD(message));
    for (auto* attribute = IFLA_RTA(info); RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
      if (attribute->rta_type == IFLA_IFNAME) {
        found.name.assign(static_cast<const char*>(RTA_DATA(attribute)),
                          strnlen(static_cast<const char*>(RTA_DATA(attribute)), RTA_PAYLOAD(attribute)));
      }
    }
    link = found;
  });
  return outcome != Outcome::ioError;
}

bool linkCarries(const Link& link) {
  // Up but without carrier (cable out, peer gone): the kernel keeps its routes, marked
  // "linkdown", and nothing gets through.
  return (link.flags & IFF_UP) && (link.flags & IFF_LOWER_UP);
}

SCNetworkReachabilityFlags flagsFor(const std::optional<Route>& route, const std::optional<Link>& link) {
  if (!route) return 0;
  if (route->type == RTN_LOCAL) {
    return kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsIsLocalAddress |
           kSCNetworkReachabilityFlagsIsDirect;
  }
  if (route->type != RTN_UNICAST || !link || !linkCarries(*link)) return 0;
  SCNetworkReachabilityFlags flags = kSCNetworkReachabilityFlagsReachable;
  if (link->flags & IFF_POINTOPOINT) {
    flags |= kSCNetworkReachabilityFlagsTransientConnection;
  } else if (!route->hasGateway) {
    flags |= kSCNetworkReachabilityFlagsIsDirect;
  }
  const bool modem = link->type == ARPHRD_RAWIP || link->name.rfind("wwan", 0) == 0 ||
                     link->name.rfind("rmnet", 0) == 0;
  if (modem) flags |= kSCNetworkReachabilityFlagsIsWWAN;
  return flags;
}

int openChangeSocket() {
  Socket socket(RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE | RTMGRP_IPV4_IFADDR |
                    RTMGRP_IPV6_IFADDR,
                true);
  return socket.release();
}

void drainChangeSocket(int fd) {
  alignas(nlmsghdr) char buffer[8192];
  for (;;) {
    const ssize_t received = recv(fd, buffer, sizeof buffer, 0);
    if (received > 0) continue;
    if (received < 0 && errno == EINTR) continue;
    // EAGAIN: drained. ENOBUFS: events were lost, but the flags are read afresh anyway.
    if (received < 0 && errno == ENOBUFS) continue;
    return;
  }
}

}  // namespace platform::netlink
