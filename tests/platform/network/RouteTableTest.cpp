#include <gtest/gtest.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>

#include "RouteTable.h"

using platform::netlink::flagsFor;
using platform::netlink::Link;
using platform::netlink::Route;

namespace {
Route unicast(bool gateway) { return Route{RTN_UNICAST, gateway, 2}; }
Link link(unsigned flags, std::string name = "eth0", unsigned short type = ARPHRD_ETHER) {
  return Link{flags, type, std::move(name)};
}
constexpr auto R = kSCNetworkReachabilityFlagsReachable;
constexpr unsigned kCarrier = 0x10000;  // IFF_LOWER_UP
constexpr unsigned kWorking = IFF_UP | IFF_RUNNING | kCarrier;
}  // namespace

TEST(RouteFlags, GatewayMeansReachableButNotDirect) {
  EXPECT_EQ(flagsFor(unicast(true), link(kWorking)), R);
  EXPECT_EQ(flagsFor(unicast(false), link(kWorking)), R | kSCNetworkReachabilityFlagsIsDirect);
}

TEST(RouteFlags, PointToPointIsTransientAndNeverDirect) {
  EXPECT_EQ(flagsFor(unicast(false), link(kWorking | IFF_POINTOPOINT, "ppp0", ARPHRD_PPP)),
            R | kSCNetworkReachabilityFlagsTransientConnection);
}

TEST(RouteFlags, ModemLinksAreWWAN) {
  EXPECT_EQ(flagsFor(unicast(true), link(kWorking, "wwan0", ARPHRD_NONE)), R | kSCNetworkReachabilityFlagsIsWWAN);
  EXPECT_EQ(flagsFor(unicast(true), link(kWorking, "usb0", 519)), R | kSCNetworkReachabilityFlagsIsWWAN);
}

TEST(RouteFlags, LocalAddressesAreReachableDirectAndLocal) {
  EXPECT_EQ(flagsFor(Route{RTN_LOCAL, false, 1}, std::nullopt),
            R | kSCNetworkReachabilityFlagsIsDirect | kSCNetworkReachabilityFlagsIsLocalAddress);
}

TEST(RouteFlags, NoRouteDownLinkOrRejectingRouteIsNotReachable) {
  EXPECT_EQ(flagsFor(std::nullopt, std::nullopt), 0u);
  EXPECT_EQ(flagsFor(unicast(true), link(0)), 0u);
  EXPECT_EQ(flagsFor(unicast(true), link(IFF_UP | IFF_RUNNING)), 0u);  // no carrier
  EXPECT_EQ(flagsFor(unicast(true), link(kCarrier)), 0u);              // taken down
  EXPECT_EQ(flagsFor(unicast(true), std::nullopt), 0u);
  EXPECT_EQ(flagsFor(Route{RTN_UNREACHABLE, false, 0}, link(kWorking)), 0u);
  EXPECT_EQ(flagsFor(Route{RTN_BLACKHOLE, false, 0}, link(kWorking)), 0u);
}
