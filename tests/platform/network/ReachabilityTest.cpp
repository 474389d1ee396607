#include <gtest/gtest.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "Classes/Reachability.h"
#include "platform/CurrentRunLoop.h"
#include "platform/NSException.h"
#include "platform/NSNotificationCenter.h"
#include "platform/RunLoop.h"

extern char** environ;

namespace {

constexpr auto kReachable = kSCNetworkReachabilityFlagsReachable;
constexpr auto kRequired = kSCNetworkReachabilityFlagsConnectionRequired;
constexpr auto kWWAN = kSCNetworkReachabilityFlagsIsWWAN;
constexpr auto kTransient = kSCNetworkReachabilityFlagsTransientConnection;
constexpr auto kDirect = kSCNetworkReachabilityFlagsIsDirect;

// Every target answers the flags the test gives it (0 when not given); listed targets cannot be read.
class InjectedFlags : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setReachabilityFlagsOverride([this](const std::string& target, SCNetworkReachabilityFlags* out) {
      asked.push_back(target);
      if (unreadable.count(target)) return false;
      auto it = flags.find(target);
      *out = it == flags.end() ? 0 : it->second;
      return true;
    });
  }
  void TearDown() override {
    platform::setReachabilityFlagsOverride({});
    TH_Reachability::sharedReachability().setNetworkStatusNotificationsEnabled(false);
  }

  std::map<std::string, SCNetworkReachabilityFlags> flags;
  std::set<std::string> unreadable;
  std::vector<std::string> asked;
  TH_Reachability reachability;
};

struct FlagsRow {
  const char* name;
  SCNetworkReachabilityFlags flags;
  bool usable;
  NetworkStatus internet;
};

class FlagsTable : public InjectedFlags, public ::testing::WithParamInterface<FlagsRow> {};

}  // namespace

TEST_P(FlagsTable, ReduceToStatus) {
  const FlagsRow row = GetParam();
  flags[kDefaultRouteKey] = row.flags;
  EXPECT_EQ(TH_Reachability::isReachableWithoutRequiringConnection(row.flags), row.usable);
  SCNetworkReachabilityFlags out = 0xdead;
  EXPECT_EQ(reachability.isNetworkAvailableFlags(&out), row.usable);
  EXPECT_EQ(out, row.flags);
  EXPECT_EQ(reachability.internetConnectionStatus(), row.internet);
}

INSTANTIATE_TEST_SUITE_P(
    Reachability, FlagsTable,
    ::testing::Values(FlagsRow{"Reachable", kReachable, true, NetworkStatusWiFi},
                      FlagsRow{"ConnectionRequired", kReachable | kRequired, false, NetworkStatusNotReachable},
                      FlagsRow{"ConnectionRequiredOverWWAN", kReachable | kRequired | kWWAN, true, NetworkStatusWiFi},
                      FlagsRow{"Transient", kReachable | kTransient, true, NetworkStatusTransient},
                      FlagsRow{"Direct", kReachable | kDirect, true, NetworkStatusNotReachable},
                      FlagsRow{"WWAN", kReachable | kWWAN, true, NetworkStatusWiFi},
                      FlagsRow{"Nothing", 0, false, NetworkStatusNotReachable},
                      FlagsRow{"NotReachableButFlagged", kWWAN | kTransient, false, NetworkStatusNotReachable}),
    [](const ::testing::TestParamInfo<FlagsRow>& row) { return std::string(row.param.name); });

TEST_F(InjectedFlags, DirectLinkCountsForLocalWiFiNotForInternetNorRemoteHost) {
  flags[kDefaultRouteKey] = kReachable | kDirect;
  flags[kLinkLocalAddressKey] = kReachable | kDirect;
  flags["collector.example"] = kReachable | kDirect;
  reachability.setHostName("collector.example");
  EXPECT_EQ(reachability.internetConnectionStatus(), NetworkStatusNotReachable);
  EXPECT_EQ(reachability.localWiFiConnectionStatus(), NetworkStatusWiFi);
  EXPECT_EQ(reachability.remoteHostStatus(), NetworkStatusWiFi);
  flags[kLinkLocalAddressKey] = kReachable;  // through a gateway
  EXPECT_EQ(reachability.localWiFiConnectionStatus(), NetworkStatusNotReachable);
}

TEST_F(InjectedFlags, UnreadableFlagsGiveNotReachableAndLeaveTheOutValue) {
  unreadable = {kDefaultRouteKey, "collector.example"};
  SCNetworkReachabilityFlags out = 77;
  EXPECT_FALSE(reachability.isNetworkAvailableFlags(&out));
  EXPECT_EQ(out, 77u);
  EXPECT_EQ(reachability.internetConnectionStatus(), NetworkStatusNotReachable);
  reachability.setHostName("collector.example");
  EXPECT_EQ(reachability.remoteHostStatus(), NetworkStatusNotReachable);
}

TEST_F(InjectedFlags, OneQueryPerTargetIsCreatedAndReused) {
  flags[kDefaultRouteKey] = kReachable;
  reachability.internetConnectionStatus();
  ASSERT_EQ(reachability.reachabilityQueries().size(), 1u);
  const auto& query = *reachability.reachabilityQueries().at(kDefaultRouteKey);
  SCNetworkReachabilityRef first = query.reachabilityRef();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(query.hostNameOrAddress(), kDefaultRouteKey);
  reachability.internetConnectionStatus();
  EXPECT_EQ(reachability.reachabilityQueries().size(), 1u);
  EXPECT_EQ(reachability.reachabilityQueries().at(kDefaultRouteKey)->reachabilityRef(), first);
  // Flags are read afresh each time, never cached.
  EXPECT_EQ(std::count(asked.begin(), asked.end(), kDefaultRouteKey), 2);

  EXPECT_EQ(reachability.reachabilityRefForHostName("h"), reachability.reachabilityRefForHostName("h"));
  EXPECT_EQ(reachability.reachabilityRefForAddress("10.1.2.3"), reachability.reachabilityRefForAddress("10.1.2.3"));
  EXPECT_EQ(reachability.reachabilityQueries().size(), 3u);
}

TEST_F(InjectedFlags, RemoteHostUsesTheHostNameBeforeTheAddress) {
  flags["collector.example"] = kReachable | kTransient;
  reachability.setAddress("not an address");
  reachability.setHostName("collector.example");
  EXPECT_EQ(reachability.remoteHostStatus(), NetworkStatusTransient);
  EXPECT_FALSE(reachability.reachabilityQueries().count("not an address"));

  TH_Reachability byAddress;
  flags["10.0.0.9"] = kReachable;
  byAddress.setAddress("10.0.0.9");
  EXPECT_EQ(byAddress.remoteHostStatus(), NetworkStatusWiFi);
}

TEST_F(InjectedFlags, EmptyTargetsHaveNoReferenceAndStatusZero) {
  EXPECT_EQ(reachability.reachabilityRefForHostName(std::nullopt), nullptr);
  EXPECT_EQ(reachability.reachabilityRefForHostName(""), nullptr);
  EXPECT_EQ(reachability.reachabilityRefForAddress(""), nullptr);
  reachability.setHostName("");
  reachability.setAddress("10.0.0.9");  // not consulted: a host name is set, even an empty one
  flags["10.0.0.9"] = kReachable;
  EXPECT_EQ(reachability.remoteHostStatus(), NetworkStatusNotReachable);
  EXPECT_FALSE(reachability.isHostReachable(""));
}

TEST_F(InjectedFlags, BadAddressTextRaisesAndMakesNoQuery) {
  try {
    reachability.reachabilityRefForAddress("999.1.1.1");
    FAIL() << "no exception";
  } catch (const NSAssertionFailure& e) {
    EXPECT_EQ(e.description(), "Failed to convert an IP address string to a sockaddr_in: 999.1.1.1");
    EXPECT_EQ(e.file(), "Classes/Reachability.cpp");
  }
  EXPECT_TRUE(reachability.reachabilityQueries().empty());
  sockaddr_in address{};
  EXPECT_TRUE(TH_Reachability::addressFromString("192.168.1.20", &address));
  EXPECT_EQ(address.sin_family, AF_INET);
  EXPECT_EQ(ntohl(address.sin_addr.s_addr), 0xC0A80114u);
  EXPECT_FALSE(TH_Reachability::addressFromString(std::nullopt, &address));
}

TEST_F(InjectedFlags, NoTargetAtAllRaises) {
  try {
    reachability.remoteHostStatus();
    FAIL() << "no exception";
  } catch (const NSAssertionFailure& e) {
    EXPECT_EQ(e.description(), "No hostName or address specified. Cannot determine reachability.");
  }
}

TEST_F(InjectedFlags, HostReachabilityCheckCachesNothing) {
  flags["once.example"] = kReachable;
  EXPECT_TRUE(reachability.isHostReachable("once.example"));
  flags["once.example"] = kReachable | kRequired;
  EXPECT_FALSE(reachability.isHostReachable("once.example"));
  EXPECT_TRUE(reachability.reachabilityQueries().empty());
}

TEST_F(InjectedFlags, QueriesAreRegisteredOnRunLoopsOnlyWhileNotificationsAreEnabled) {
  platform::RunLoop loop;
  platform::CurrentRunLoopScope scope(loop);
  reachability.internetConnectionStatus();
  EXPECT_TRUE(reachability.reachabilityQueries().at(kDefaultRouteKey)->runLoops().empty());

  TH_Reachability::sharedReachability().setNetworkStatusNotificationsEnabled(true);
  reachability.internetConnectionStatus();
  reachability.internetConnectionStatus();
  const auto& query = *reachability.reachabilityQueries().at(kDefaultRouteKey);
  ASSERT_EQ(query.runLoops().size(), 1u);  // once per run loop
  EXPECT_TRUE(query.isScheduledOnRunLoop(&loop));
  EXPECT_FALSE(query.isScheduledOnRunLoop(&platform::RunLoop::main()));
  EXPECT_EQ(TH_ReachabilityQuery().startListeningForReachabilityChanges(nullptr, &loop), nullptr);

  reachability.stopListeningForReachabilityChanges();
  EXPECT_TRUE(query.runLoops().empty());
}

TEST(ReachabilityCallbackTest, PostsTheNotificationWithNoObject) {
  int seen = 0;
  const void* object = &seen;
  auto token = NSNotificationCenter::defaultCenter().addObserverForName(
      kNetworkReachabilityChangedNotification, [&](const std::string&, const void* o) {
        ++seen;
        object = o;
      });
  ReachabilityCallback(nullptr, 0, nullptr);
  NSNotificationCenter::defaultCenter().removeObserver(token);
  ReachabilityCallback(nullptr, 0, nullptr);
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(object, nullptr);
}

// --- The kernel's own answers

namespace {

// What the machine's IPv4 and IPv6 main tables say about a default route: 2 through a gateway,
// 0 without one (or with none at all).
NetworkStatus expectedFromProc() {
  std::ifstream v4("/proc/net/route");
  std::string line;
  std::getline(v4, line);  // header
  while (std::getline(v4, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway, flagsHex, refcnt, use, metric, mask;
    fields >> iface >> destination >> gateway >> flagsHex >> refcnt >> use >> metric >> mask;
    if (destination == "00000000" && mask == "00000000" && (std::stoul(flagsHex, nullptr, 16) & 0x1)) {
      return gateway != "00000000" ? NetworkStatusWiFi : NetworkStatusNotReachable;
    }
  }
  std::ifstream v6("/proc/net/ipv6_route");
  while (std::getline(v6, line)) {
    std::istringstream fields(line);
    std::string destination, prefix, source, sourcePrefix, nextHop;
    fields >> destination >> prefix >> source >> sourcePrefix >> nextHop;
    if (destination == std::string(32, '0') && prefix == "00" && line.find(" lo") == std::string::npos) {
      return nextHop != std::string(32, '0') ? NetworkStatusWiFi : NetworkStatusNotReachable;
    }
  }
  return NetworkStatusNotReachable;
}

int run(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return 127;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

// Runs `body` on a thread of its own inside a fresh network namespace (namespaces are per thread).
// Returns false when this machine does not allow it.
bool inFreshNetworkNamespace(const std::function<void()>& body) {
  bool allowed = false;
  std::thread worker([&] {
    if (unshare(CLONE_NEWNET) != 0) return;
    allowed = true;
    body();
  });
  worker.join();
  return allowed;
}

}  // namespace

TEST(ReachabilityOfThisMachine, DefaultRouteDecidesTheInternetStatus) {
  TH_Reachability reachability;
  EXPECT_EQ(reachability.internetConnectionStatus(), expectedFromProc());
  // The loopback address is always there, and local.
  SCNetworkReachabilityFlags flags = 0;
  ASSERT_TRUE(SCNetworkReachabilityGetFlags(reachability.reachabilityRefForAddress("127.0.0.1"), &flags));
  EXPECT_EQ(flags & (kReachable | kSCNetworkReachabilityFlagsIsLocalAddress),
            kReachable | kSCNetworkReachabilityFlagsIsLocalAddress);
  EXPECT_TRUE(reachability.isHostReachable("localhost"));
  EXPECT_FALSE(reachability.isHostReachable("no-such-host.invalid"));
}

TEST(ReachabilityOfThisMachine, FreshNetworkNamespaceHasNoRoute) {
  NetworkStatus status = NetworkStatusWiFi;
  bool loopback = true;
  const bool allowed = inFreshNetworkNamespace([&] {
    TH_Reachability reachability;
    status = reachability.internetConnectionStatus();
    loopback = reachability.isHostReachable("127.0.0.1");
  });
  if (!allowed) GTEST_SKIP() << "unshare(CLONE_NEWNET) is not permitted here (needs root / CAP_SYS_ADMIN)";
  EXPECT_EQ(status, NetworkStatusNotReachable);
  EXPECT_FALSE(loopback);  // lo is down in a new namespace
}

TEST(ReachabilityOfThisMachine, RouteChangeIsAnnouncedOnTheRunLoop) {
  int notifications = 0;
  bool toolMissing = false;
  SCNetworkReachabilityFlags before = 1, after = 0;
  size_t scheduled = 0;
  const bool allowed = inFreshNetworkNamespace([&] {
    platform::RunLoop loop;
    platform::CurrentRunLoopScope scope(loop);
    TH_Reachability::sharedReachability().setNetworkStatusNotificationsEnabled(true);
    auto token = NSNotificationCenter::defaultCenter().addObserverForName(
        kNetworkReachabilityChangedNotification, [&](const std::string&, const void*) { ++notifications; });
    {
      TH_Reachability reachability;
      SCNetworkReachabilityRef target = reachability.reachabilityRefForAddress("10.9.8.7");
      scheduled = reachability.reachabilityQueries().at("10.9.8.7")->runLoops().size();
      SCNetworkReachabilityGetFlags(target, &before);
      loop.runOnce(0);
      if (run({"ip", "link", "set", "lo", "up"}) != 0 || run({"ip", "route", "add", "10.0.0.0/8", "dev", "lo"}) != 0) {
        toolMissing = true;
      } else {
        loop.runUntil([&] { return notifications > 0; }, 5.0);
        SCNetworkReachabilityGetFlags(target, &after);
      }
    }
    NSNotificationCenter::defaultCenter().removeObserver(token);
    TH_Reachability::sharedReachability().setNetworkStatusNotificationsEnabled(false);
  });
  if (!allowed) GTEST_SKIP() << "unshare(CLONE_NEWNET) is not permitted here (needs root / CAP_SYS_ADMIN)";
  if (toolMissing) GTEST_SKIP() << "the ip tool (iproute2) is needed to change routes";
  EXPECT_EQ(scheduled, 1u);
  EXPECT_EQ(before, 0u);
  EXPECT_EQ(after, kReachable | kDirect);
  EXPECT_EQ(notifications, 1);  // one change of flags, however many netlink events it took
}

TEST(ReachabilityOfThisMachine, DefaultRouteOverALinkWithoutCarrierIsNotReachable) {
  bool toolMissing = false;
  NetworkStatus withoutCarrier = NetworkStatusWiFi, withCarrier = NetworkStatusNotReachable;
  const bool allowed = inFreshNetworkNamespace([&] {
    // A veth pair: v0 is up, but has carrier only while its peer v1 is up too.
    if (run({"ip", "link", "add", "v0", "type", "veth", "peer", "name", "v1"}) != 0 ||
        run({"ip", "link", "set", "v0", "up"}) != 0 || run({"ip", "addr", "add", "10.1.1.1/24", "dev", "v0"}) != 0 ||
        run({"ip", "route", "add", "default", "via", "10.1.1.254", "dev", "v0", "onlink"}) != 0) {
      toolMissing = true;
      return;
    }
    TH_Reachability reachability;
    withoutCarrier = reachability.internetConnectionStatus();
    run({"ip", "link", "set", "v1", "up"});
    withCarrier = reachability.internetConnectionStatus();
  });
  if (!allowed) GTEST_SKIP() << "unshare(CLONE_NEWNET) is not permitted here (needs root / CAP_SYS_ADMIN)";
  if (toolMissing) GTEST_SKIP() << "the ip tool (iproute2) with veth links is needed";
  EXPECT_EQ(withoutCarrier, NetworkStatusNotReachable);
  EXPECT_EQ(withCarrier, NetworkStatusWiFi);
}
