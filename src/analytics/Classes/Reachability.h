#pragma once
// Whether the network can be used now, and over what kind of link: one query per target (the
// default route, the link-local network, a host name or an IPv4 address), its flags read afresh
// on every question and reduced to three status values. Queries can also be registered on run
// loops, where route and link changes become "kNetworkReachabilityChangedNotification".
#include <netinet/in.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Reachability.h"

enum NetworkStatus {
  NetworkStatusNotReachable = 0,
  NetworkStatusTransient = 1,
  NetworkStatusWiFi = 2,
};

inline constexpr const char* kDefaultRouteKey = "0.0.0.0";
inline constexpr const char* kLinkLocalAddressKey = "169.254.0.0";
inline constexpr const char* kNetworkReachabilityChangedNotification = "kNetworkReachabilityChangedNotification";

// Registered with the platform for change reports: posts the notification, with no object.
void ReachabilityCallback(SCNetworkReachabilityRef target, SCNetworkReachabilityFlags flags, void* info);

class TH_ReachabilityQuery {
 public:
  TH_ReachabilityQuery() = default;
  // Unregisters and releases the platform reference.
  ~TH_ReachabilityQuery();
  TH_ReachabilityQuery(const TH_ReachabilityQuery&) = delete;
  TH_ReachabilityQuery& operator=(const TH_ReachabilityQuery&) = delete;

  bool isScheduledOnRunLoop(CFRunLoopRef runLoop) const;
  // Registers the reference on `runLoop`, once, and only while the shared module has
  // notifications enabled.
  void scheduleOnRunLoop(CFRunLoopRef runLoop);
  // The run loop on success; none when either argument is none or registration failed.
  CFRunLoopRef startListeningForReachabilityChanges(SCNetworkReachabilityRef reachability, CFRunLoopRef runLoop);

  SCNetworkReachabilityRef reachabilityRef() const { return _reachabilityRef; }
  // Takes ownership of `reachability`.
  void setReachabilityRef(SCNetworkReachabilityRef reachability);
  const std::vector<CFRunLoopRef>& runLoops() const { return _runLoops; }
  void setRunLoops(std::vector<CFRunLoopRef> runLoops) { _runLoops = std::move(runLoops); }
  const std::optional<std::string>& hostNameOrAddress() const { return _hostNameOrAddress; }
  void setHostNameOrAddress(std::optional<std::string> key) { _hostNameOrAddress = std::move(key); }

 private:
  SCNetworkReachabilityRef _reachabilityRef = nullptr;
  std::vector<CFRunLoopRef> _runLoops;
  std::optional<std::string> _hostNameOrAddress;
};

class TH_Reachability {
 public:
  using QueryTable = std::map<std::string, std::unique_ptr<TH_ReachabilityQuery>>;

  // The process's module, created on first use and kept for the process's life.
  static TH_Reachability& sharedReachability();

  TH_Reachability() = default;
  ~TH_Reachability();
  TH_Reachability(const TH_Reachability&) = delete;
  TH_Reachability& operator=(const TH_Reachability&) = delete;

  const std::optional<std::string>& hostName() const { return _hostName; }
  void setHostName(std::optional<std::string> hostName) { _hostName = std::move(hostName); }
  const std::optional<std::string>& address() const { return _address; }
  void setAddress(std::optional<std::string> address) { _address = std::move(address); }
  bool networkStatusNotificationsEnabled() const { return _networkStatusNotificationsEnabled; }
  void setNetworkStatusNotificationsEnabled(bool enabled) { _networkStatusNotificationsEnabled = enabled; }
  const QueryTable& reachabilityQueries() const { return _reachabilityQueries; }
  void setReachabilityQueries(QueryTable queries) { _reachabilityQueries = std::move(queries); }

  // Reachable, and either no connection must first be set up or the link is cellular.
  static bool isReachableWithoutRequiringConnection(SCNetworkReachabilityFlags flags);
  // A one-off check by name; nothing is cached or registered.
  bool isHostReachable(const std::optional<std::string>& host);
  // The default route; `flags` (may be null) receives the flags when they could be read.
  bool isNetworkAvailableFlags(SCNetworkReachabilityFlags* flags);
  // The link-local network.
  bool isAdHocWiFiNetworkAvailableFlags(SCNetworkReachabilityFlags* flags);
  // The cached reference for the target, created on first use; none for none or empty text.
  // Raises NSAssertionFailure when the reference cannot be made or the address is not dotted-quad.
  SCNetworkReachabilityRef reachabilityRefForHostName(const std::optional<std::string>& hostName);
  SCNetworkReachabilityRef reachabilityRefForAddress(const std::optional<std::string>& address);
  static bool addressFromString(const std::optional<std::string>& text, sockaddr_in* address);

  NetworkStatus internetConnectionStatus();
  NetworkStatus localWiFiConnectionStatus();
  // Raises NSAssertionFailure when neither a host name nor an address is set.
  NetworkStatus remoteHostStatus();

  void stopListeningForReachabilityChanges();

 private:
  bool isAddressAvailable(const char* key, in_addr_t address, SCNetworkReachabilityFlags* flags);
  TH_ReachabilityQuery& addQuery(const std::string& key, SCNetworkReachabilityRef reachability);

  bool _networkStatusNotificationsEnabled = false;
  std::optional<std::string> _hostName;
  std::optional<std::string> _address;
  QueryTable _reachabilityQueries;
};
