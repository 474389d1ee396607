#pragma once
// Questions to the kernel's routing table over rtnetlink, and the reachability flags they imply.
#include <netinet/in.h>
#include <sys/socket.h>

#include <optional>
#include <string>

#include "platform/Reachability.h"

namespace platform::netlink {

struct Route {
  unsigned char type = 0;  // RTN_UNICAST, RTN_LOCAL, RTN_UNREACHABLE, ...
  bool hasGateway = false;
  int outputInterface = 0;
};

struct Link {
  unsigned flags = 0;         // IFF_UP, IFF_POINTOPOINT, ...
  unsigned short type = 0;    // ARPHRD_*
  std::string name;
};

// The route the kernel would use towards `address` (AF_INET or AF_INET6): none when it has no
// route; false when the routing table could not be asked.
bool routeTo(const sockaddr* address, std::optional<Route>& route);
// The main table's best working default route (IPv4 first, then IPv6).
bool defaultRoute(std::optional<Route>& route);
bool linkByIndex(int index, std::optional<Link>& link);

// Administratively up and with carrier.
bool linkCarries(const Link& link);
// Reachable for a local address or a unicast route over a link that carries; direct when no
// gateway lies between (a point-to-point link is transient instead); WWAN for a cellular modem.
SCNetworkReachabilityFlags flagsFor(const std::optional<Route>& route, const std::optional<Link>& link);

// A netlink socket subscribed to route, address and link changes (non-blocking), or -1.
int openChangeSocket();
// Reads everything pending on a change socket.
void drainChangeSocket(int fd);

}  // namespace platform::netlink
