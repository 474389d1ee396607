#pragma once
// SCNetworkReachability stand-in on Linux. Flags come from the kernel's routing table over
// rtnetlink: a route to the target makes it reachable, a route without a gateway is direct, a
// point-to-point link is transient and a cellular modem link is WWAN. Host names are resolved
// first. Scheduled references watch route and link changes through a netlink socket that is an fd
// source of the run loop, and call their callback there when the flags change.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <string>

namespace platform {
class RunLoop;
}

using SCNetworkReachabilityFlags = std::uint32_t;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsTransientConnection = 0x1;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsReachable = 0x2;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsConnectionRequired = 0x4;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsLocalAddress = 0x10000;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsDirect = 0x20000;
inline constexpr SCNetworkReachabilityFlags kSCNetworkReachabilityFlagsIsWWAN = 0x40000;

struct __SCNetworkReachability;
using SCNetworkReachabilityRef = __SCNetworkReachability*;
using CFRunLoopRef = platform::RunLoop*;
using CFStringRef = const char*;
inline constexpr CFStringRef kCFRunLoopDefaultMode = "kCFRunLoopDefaultMode";

using SCNetworkReachabilityCallBack = void (*)(SCNetworkReachabilityRef target,
                                               SCNetworkReachabilityFlags flags, void* info);
struct SCNetworkReachabilityContext {
  long version = 0;
  void* info = nullptr;
  const void* (*retain)(const void* info) = nullptr;
  void (*release)(const void* info) = nullptr;
  const char* (*copyDescription)(const void* info) = nullptr;
};

// `allocator` is ignored (pass nullptr). None for an empty name or an address that is not IPv4/IPv6.
SCNetworkReachabilityRef SCNetworkReachabilityCreateWithName(const void* allocator, const char* nodename);
SCNetworkReachabilityRef SCNetworkReachabilityCreateWithAddress(const void* allocator, const sockaddr* address);
// Unschedules the reference everywhere and frees it.
void SCNetworkReachabilityRelease(SCNetworkReachabilityRef target);
// Synchronous. False when the routing table cannot be read.
bool SCNetworkReachabilityGetFlags(SCNetworkReachabilityRef target, SCNetworkReachabilityFlags* flags);
bool SCNetworkReachabilitySetCallback(SCNetworkReachabilityRef target, SCNetworkReachabilityCallBack callback,
                                      SCNetworkReachabilityContext* context);
// Loop thread only.
bool SCNetworkReachabilityScheduleWithRunLoop(SCNetworkReachabilityRef target, CFRunLoopRef runLoop,
                                              CFStringRef runLoopMode);
bool SCNetworkReachabilityUnscheduleFromRunLoop(SCNetworkReachabilityRef target, CFRunLoopRef runLoop,
                                                CFStringRef runLoopMode);

namespace platform {
// Replaces the routing-table answer (tests): called with the target's text (dotted address or host
// name); returns false for "flags cannot be read". An empty function restores the kernel's answer.
using ReachabilityFlagsOverride = std::function<bool(const std::string& target, SCNetworkReachabilityFlags* flags)>;
void setReachabilityFlagsOverride(ReachabilityFlagsOverride override);
}  // namespace platform
