#pragma once
// The front of the analytics library: one usage session (beacon) per run, named sub-sessions
// inside it, an optional location, and the upload of finished sessions to the collection server.
//
// The host application calls, at launch and at termination:
//   Beacon::initAndStartBeaconWithApplicationCode(code, false, false);
//   Beacon::shared()->endBeacon();
// Neither ever throws: when the store cannot be opened or fails later, one line is logged and the
// run goes on without analytics.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Classes/Utils/Database/BeaconDatabase.h"
#include "JSONValue.h"
#include "platform/CLLocation.h"
#include "platform/NSURLConnection.h"

class Beacon : public CLLocationManagerDelegate, public NSURLConnectionDelegate {
 public:
  // The registered controller when there is one (arguments ignored); otherwise opens the store,
  // creates and registers the controller (which offers earlier runs' sessions to the server,
  // asynchronously) and opens this run's session. Never throws.
  static Beacon* initAndStartBeaconWithApplicationCode(const std::string& applicationCode, bool useCoreLocation,
                                                       bool useOnlyWiFi) noexcept;
  // The registered controller; raises NSException "BeaconNotInitalized" when there is none.
  static Beacon* shared();
  // endBeacon() on shared(): raises like shared() when there is no controller.
  static void endSharedBeacon();
  // Destroys the registered controller (an open session is ended and uploaded first). Afterwards
  // shared() raises again.
  static void releaseShared() noexcept;

  // The collection server, host[:port]; false for a malformed value (the setting is kept).
  static bool setCollectionServer(const std::string& hostAndPort);
  static std::string collectionServer();

  ~Beacon() override;
  Beacon(const Beacon&) = delete;
  Beacon& operator=(const Beacon&) = delete;

  void startBeacon();
  // Ends the session and uploads synchronously (blocks up to 5 s). Nothing when none is open.
  void endBeacon() noexcept;
  // Raises "BeaconNotInitalized" when no session is open.
  void startSubBeaconWithName(const std::string& name, bool timeSession);
  void endSubBeaconWithName(const std::string& name);
  void setBeaconLocation(const CLLocation& location);
  std::optional<JSONDictionary> getCurrentRunningBeacon();
  // The hardware machine identifier, or none.
  std::optional<std::string> deviceModel() const;

  // One upload attempt of what the store holds (asynchronous on the current run loop, or
  // synchronous); dropped silently when the network is not usable.
  void attemptToSendBeaconsAsync(bool asynchronous);
  // Deletes what was sent when the body is exactly "success".
  void examineResponse(const std::optional<std::string>& body);
  // The exit upload ends within `seconds` from now (never later than its own 5 s); with too
  // little time left it is not made, and the session waits in the store for the next run.
  void limitExitWait(double seconds);

  // Sessions one upload carries at most, oldest first: about 6 KB on the wire for this app's
  // sessions (13 KB with a sub-session each), under 2 s even at 64 kbit/s. A larger backlog
  // drains over the next uploads (bench/analytics).
  static constexpr std::size_t kMaximumBeaconsPerUpload = 25;
  // Bytes of answer read at most; only "success" counts, and a longer answer is a failed upload.
  static constexpr std::size_t kMaximumAnswerLength = 4096;

  void connectionDidReceiveResponse(NSURLConnection* connection, const NSURLResponse& response) override;
  void connectionDidReceiveData(NSURLConnection* connection, const std::string& data) override;
  void connectionDidFailWithError(NSURLConnection* connection, const NSError& error) override;
  void connectionDidFinishLoading(NSURLConnection* connection) override;

  void locationManagerDidUpdateToLocation(CLLocationManager* manager, const CLLocation& newLocation,
                                          const CLLocation* oldLocation) override;

  const std::string& code() const { return applicationCode; }
  bool isBeaconStarted() const { return beaconStarted; }
  bool isUploading() const { return uploading; }
  bool usesOnlyWiFi() const { return useWiFi; }
  bool usesCoreLocation() const { return useCoreLocation; }
  CLLocationManager* currentLocationManager() const { return locationManager.get(); }
  // False once a store failure has turned analytics off for this run.
  bool analyticsEnabled() const { return store_ != nullptr; }

 private:
  Beacon(const std::string& code, bool useCoreLocation, bool useOnlyWiFi, std::shared_ptr<BeaconDatabase> store);
  static Beacon* initWithApplicationCode(const std::string& code, bool useCoreLocation, bool useOnlyWiFi,
                                         std::shared_ptr<BeaconDatabase> store);

  // Runs a store operation; a failure turns analytics off (one log line) instead of leaving.
  template <typename Operation>
  bool contain(Operation&& operation) noexcept;
  void turnAnalyticsOff(const std::string& reason) noexcept;
  void sendBeacons(bool asynchronous);
  std::string uploadDocument(const JSONArray& records) const;

  std::string applicationCode;
  bool beaconStarted = false;
  bool uploading = false;
  bool useWiFi = false;
  bool useCoreLocation = false;
  std::unique_ptr<CLLocationManager> locationManager;
  std::shared_ptr<NSURLConnection> connection;
  std::optional<std::string> receivedData;

  std::shared_ptr<BeaconDatabase> store_;
  std::recursive_mutex lock_;
  // What the upload in flight carries: after "success" exactly these rows go.
  std::vector<BeaconDatabase::SentBeacon> carried_;
  std::optional<std::chrono::steady_clock::time_point> exitDeadline_;
};
