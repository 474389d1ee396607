#include "Classes/Reachability.h"

#include <arpa/inet.h>

#include <cstring>

#include "platform/CurrentRunLoop.h"
#include "platform/NSException.h"
#include "platform/NSNotificationCenter.h"

namespace {
constexpr const char* kSourceFile = "Classes/Reachability.cpp";
}  // namespace

void ReachabilityCallback(SCNetworkReachabilityRef, SCNetworkReachabilityFlags, void*) {
  NSNotificationCenter::defaultCenter().postNotificationName(kNetworkReachabilityChangedNotification, nullptr);
}

// --- TH_ReachabilityQuery

TH_ReachabilityQuery::~TH_ReachabilityQuery() { SCNetworkReachabilityRelease(_reachabilityRef); }

void TH_ReachabilityQuery::setReachabilityRef(SCNetworkReachabilityRef reachability) {
  if (reachability == _reachabilityRef) return;
  SCNetworkReachabilityRelease(_reachabilityRef);
  _reachabilityRef = reachability;
  _runLoops.clear();
}

bool TH_ReachabilityQuery::isScheduledOnRunLoop(CFRunLoopRef runLoop) const {
  for (CFRunLoopRef scheduled : _runLoops) {
    if (scheduled == runLoop) return true;
  }
  return false;
}

void TH_ReachabilityQuery::scheduleOnRunLoop(CFRunLoopRef runLoop) {
  if (!TH_Reachability::sharedReachability().networkStatusNotificationsEnabled() || !runLoop) return;
  if (isScheduledOnRunLoop(runLoop)) return;
  if (startListeningForReachabilityChanges(_reachabilityRef, runLoop) == runLoop) _runLoops.push_back(runLoop);
}

CFRunLoopRef TH_ReachabilityQuery::startListeningForReachabilityChanges(SCNetworkReachabilityRef reachability,
                                                                      CFRunLoopRef runLoop) {
  if (!reachability || !runLoop) return nullptr;
  SCNetworkReachabilityContext context{0, this, nullptr, nullptr, nullptr};
  SCNetworkReachabilitySetCallback(reachability, ReachabilityCallback, &context);
  if (!SCNetworkReachabilityScheduleWithRunLoop(reachability, runLoop, kCFRunLoopDefaultMode)) return nullptr;
  return runLoop;
}

// --- TH_Reachability

TH_Reachability& TH_Reachability::sharedReachability() {
  // Never destroyed: it may hold registrations on the main loop until the very end.
  static TH_Reachability* instance = new TH_Reachability;
  return *instance;
}

TH_Reachability::~TH_Reachability() { stopListeningForReachabilityChanges(); }

bool TH_Reachability::isReachableWithoutRequiringConnection(SCNetworkReachabilityFlags flags) {
  const bool reachable = (flags & kSCNetworkReachabilityFlagsReachable) != 0;
  const bool noConnectionRequired = (flags & kSCNetworkReachabilityFlagsConnectionRequired) == 0;
  const bool cellular = (flags & kSCNetworkReachabilityFlagsIsWWAN) != 0;
  return reachable && (noConnectionRequired || cellular);
}

bool TH_Reachability::isHostReachable(const std::optional<std::string>& host) {
  if (!host || host->empty()) return false;
  SCNetworkReachabilityRef reachability = SCNetworkReachabilityCreateWithName(nullptr, host->c_str());
  if (!reachability) return false;
  SCNetworkReachabilityFlags flags = 0;
  const bool read = SCNetworkReachabilityGetFlags(reachability, &flags);
  SCNetworkReachabilityRelease(reachability);
  return read && isReachableWithoutRequiringConnection(flags);
}

TH_ReachabilityQuery& TH_Reachability::addQuery(const std::string& key, SCNetworkReachabilityRef reachability) {
  auto query = std::make_unique<TH_ReachabilityQuery>();
  query->setHostNameOrAddress(key);
  query->setReachabilityRef(reachability);
  query->scheduleOnRunLoop(&platform::currentRunLoop());
  auto& slot = _reachabilityQueries[key];
  slot = std::move(query);
  return *slot;
}

bool TH_Reachability::isAddressAvailable(const char* key, in_addr_t address, SCNetworkReachabilityFlags* flags) {
  TH_ReachabilityQuery* query = nullptr;
  if (auto it = _reachabilityQueries.find(key); it != _reachabilityQueries.end()) {
    query = it->second.get();
    query->scheduleOnRunLoop(&platform::currentRunLoop());
  } else {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = address;
    query = &addQuery(key, SCNetworkReachabilityCreateWithAddress(nullptr, reinterpret_cast<sockaddr*>(&target)));
  }
  SCNetworkReachabilityFlags read = 0;
  if (!SCNetworkReachabilityGetFlags(query->reachabilityRef(), &read)) return false;
  if (flags) *flags = read;
  return isReachableWithoutRequiringConnection(read);
}

bool TH_Reachability::isNetworkAvailableFlags(SCNetworkReachabilityFlags* flags) {
  return isAddressAvailable(kDefaultRouteKey, htonl(INADDR_ANY), flags);
}

bool TH_Reachability::isAdHocWiFiNetworkAvailableFlags(SCNetworkReachabilityFlags* flags) {
  return isAddressAvailable(kLinkLocalAddressKey, htonl(0xA9FE0000) /* 169.254.0.0 */, flags);
}

SCNetworkReachabilityRef TH_Reachability::reachabilityRefForHostName(const std::optional<std::string>& hostName) {
  if (!hostName || hostName->empty()) return nullptr;
  if (auto it = _reachabilityQueries.find(*hostName); it != _reachabilityQueries.end()) {
    return it->second->reachabilityRef();
  }
  SCNetworkReachabilityRef reachability = SCNetworkReachabilityCreateWithName(nullptr, hostName->c_str());
  if (!reachability) {
    handleFailureInMethod("TH_Reachability::reachabilityRefForHostName", this, kSourceFile, __LINE__,
                          "Failed to create SCNetworkReachabilityRef for host: " + *hostName);
  }
  return addQuery(*hostName, reachability).reachabilityRef();
}

SCNetworkReachabilityRef TH_Reachability::reachabilityRefForAddress(const std::optional<std::string>& address) {
  if (!address || address->empty()) return nullptr;
  sockaddr_in target{};
  if (!addressFromString(address, &target)) {
    handleFailureInMethod("TH_Reachability::reachabilityRefForAddress", this, kSourceFile, __LINE__,
                          "Failed to convert an IP address string to a sockaddr_in: " + *address);
  }
  if (auto it = _reachabilityQueries.find(*address); it != _reachabilityQueries.end()) {
    return it->second->reachabilityRef();
  }
  SCNetworkReachabilityRef reachability = SCNetworkReachabilityCreateWithAddress(nullptr, reinterpret_cast<sockaddr*>(&target));
  if (!reachability) {
    handleFailureInMethod("TH_Reachability::reachabilityRefForAddress", this, kSourceFile, __LINE__,
                          "Failed to create SCNetworkReachabilityRef for address: " + *address);
  }
  return addQuery(*address, reachability).reachabilityRef();
}

bool TH_Reachability::addressFromString(const std::optional<std::string>& text, sockaddr_in* address) {
  if (!text || text->empty() || !address) return false;
  std::memset(address, 0, sizeof *address);
  address->sin_family = AF_INET;
  return inet_aton(text->c_str(), &address->sin_addr) != 0;
}

NetworkStatus TH_Reachability::internetConnectionStatus() {
  SCNetworkReachabilityFlags flags = 0;
  if (!isNetworkAvailableFlags(&flags)) return NetworkStatusNotReachable;
  if (flags & kSCNetworkReachabilityFlagsIsDirect) return NetworkStatusNotReachable;
  if (flags & kSCNetworkReachabilityFlagsTransientConnection) return NetworkStatusTransient;
  return NetworkStatusWiFi;
}

NetworkStatus TH_Reachability::localWiFiConnectionStatus() {
  SCNetworkReachabilityFlags flags = 0;
  if (isAdHocWiFiNetworkAvailableFlags(&flags) && (flags & kSCNetworkReachabilityFlagsIsDirect)) {
    return NetworkStatusWiFi;
  }
  return NetworkStatusNotReachable;
}

NetworkStatus TH_Reachability::remoteHostStatus() {
  SCNetworkReachabilityRef reachability = nullptr;
  if (_hostName) {
    reachability = reachabilityRefForHostName(_hostName);
  } else if (_address) {
    reachability = reachabilityRefForAddress(_address);
  } else {
    handleFailureInMethod("TH_Reachability::remoteHostStatus", this, kSourceFile, __LINE__,
                          "No hostName or address specified. Cannot determine reachability.");
  }
  SCNetworkReachabilityFlags flags = 0;
  if (!reachability || !SCNetworkReachabilityGetFlags(reachability, &flags) ||
      !isReachableWithoutRequiringConnection(flags)) {
    return NetworkStatusNotReachable;
  }
  return (flags & kSCNetworkReachabilityFlagsTransientConnection) ? NetworkStatusTransient : NetworkStatusWiFi;
}

void TH_Reachability::stopListeningForReachabilityChanges() {
  for (auto& [key, query] : _reachabilityQueries) {
    for (CFRunLoopRef runLoop : query->runLoops()) {
      SCNetworkReachabilityUnscheduleFromRunLoop(query->reachabilityRef(), runLoop, kCFRunLoopDefaultMode);
    }
    query->setRunLoops({});
  }
}
