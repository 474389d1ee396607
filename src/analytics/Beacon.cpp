#include "Beacon.h"

#include <cstring>

#include "BeaconContainment.h"
#include "Classes/Utils/Database/BeaconDatabase.h"
#include "CollectionServer.h"
#include "FormEncoding.h"
#include "platform/UIDevice.h"
#include "platform/NSException.h"
#include "platform/Log.h"

namespace {
// Main thread only in this system; atomic so a stray reader elsewhere sees a whole pointer.
std::atomic<Beacon*> registered{nullptr};

constexpr double kLocationMaximumAge = 300.0;

[[noreturn]] void raiseNotInitialized() { throw NSException("BeaconNotInitalized", "The beacon is not initalized"); }
}  // namespace

Beacon* Beacon::initAndStartBeaconWithApplicationCode(const std::string& applicationCode, bool useCoreLocation,
                                                      bool useOnlyWiFi) noexcept {
  if (Beacon* existing = registered.load()) return existing;
  std::shared_ptr<BeaconDatabase> store;
  try {
    store = BeaconDatabase::initWithApplicationCode(applicationCode);
  } catch (...) {
    NSLog("Analytics off for this run: %s", describeCurrentException().c_str());
  }
  try {
    Beacon* beacon = initWithApplicationCode(applicationCode, useCoreLocation, useOnlyWiFi, std::move(store));
    beacon->startBeacon();
    return beacon;
  } catch (...) {
    // Only running out of memory gets here: the app goes on without a controller.
    NSLog("Analytics off for this run: %s", describeCurrentException().c_str());
    return registered.load();
  }
}

Beacon* Beacon::initWithApplicationCode(const std::string& code, bool useCoreLocation, bool useOnlyWiFi,
                                        std::shared_ptr<BeaconDatabase> store) {
  auto* beacon = new Beacon(code, useCoreLocation, useOnlyWiFi, std::move(store));
  // Registered before the first attempt, which locks on the registered controller.
  registered.store(beacon);
  beacon->attemptToSendBeaconsAsync(true);
  return beacon;
}

Beacon::Beacon(const std::string& code, bool useCoreLocationFlag, bool useOnlyWiFi,
               std::shared_ptr<BeaconDatabase> store)
    : applicationCode(code), useWiFi(useOnlyWiFi), useCoreLocation(useCoreLocationFlag), store_(std::move(store)) {}

Beacon::~Beacon() {
  if (beaconStarted) endBeacon();
  // An exchange still in flight must not call back into a destroyed controller.
  if (connection) connection->cancel();
  connection.reset();
  Beacon* self = this;
  registered.compare_exchange_strong(self, nullptr);
}

Beacon* Beacon::shared() {
  Beacon* beacon = registered.load();
  if (!beacon) raiseNotInitialized();
  return beacon;
}

void Beacon::endSharedBeacon() { shared()->endBeacon(); }

void Beacon::releaseShared() noexcept { delete registered.load(); }

bool Beacon::setCollectionServer(const std::string& hostAndPort) { return CollectionServer::set(hostAndPort); }

std::string Beacon::collectionServer() { return CollectionServer::hostAndPort(); }

void Beacon::turnAnalyticsOff(const std::string& reason) noexcept {
  if (!store_) return;
  NSLog("Analytics off for this run: %s", reason.c_str());
  store_.reset();
}

void Beacon::startBeacon() {
  if (beaconStarted || !store_) return;
  if (!contain([](BeaconDatabase& store) { store.startNewBeacon(); })) return;
  beaconStarted = true;
  if (!useCoreLocation) return;
  if (!locationManager) {
    locationManager = std::make_unique<CLLocationManager>();
    locationManager->setDelegate(this);
  }
  if (!CLLocationManager::locationServicesEnabled()) return;
  const std::optional<CLLocation> fix = locationManager->location();
  if (fix && -fix->timeIntervalSinceNow() <= kLocationMaximumAge) {
    const auto where = fix->coordinate();
    contain([&](BeaconDatabase& store) { store.updateLocationWithLatitude(where.latitude, where.longitude); });
    return;
  }
  locationManager->startUpdatingLocation();
}

void Beacon::endBeacon() noexcept {
  if (!beaconStarted) return;
  contain([](BeaconDatabase& store) { store.endBeacon(); });
  beaconStarted = false;
  attemptToSendBeaconsAsync(false);
}

void Beacon::startSubBeaconWithName(const std::string& name, bool timeSession) {
  if (!store_) return;  // analytics off: nothing to record and nobody to complain to
  if (!beaconStarted) raiseNotInitialized();
  if (utf16Length(name) > 32) {
    NSLog("Subbeacon names are limited to 32 characters. \"%s\" will be truncated.", name.c_str());
  }
  contain([&](BeaconDatabase& store) { store.startNewSubBeaconWithName(name, timeSession); });
}

void Beacon::endSubBeaconWithName(const std::string& name) {
  if (!beaconStarted) return;
  contain([&](BeaconDatabase& store) { store.endSubBeaconWithName(name); });
}

void Beacon::setBeaconLocation(const CLLocation& location) {
  const auto where = location.coordinate();
  contain([&](BeaconDatabase& store) { store.updateLocationWithLatitude(where.latitude, where.longitude); });
}

void Beacon::locationManagerDidUpdateToLocation(CLLocationManager* manager, const CLLocation& newLocation,
                                                const CLLocation* /*oldLocation*/) {
  if (!useCoreLocation || !beaconStarted) return;
  const auto where = newLocation.coordinate();
  contain([&](BeaconDatabase& store) { store.updateLocationWithLatitude(where.latitude, where.longitude); });
  if (manager) manager->stopUpdatingLocation();
}

std::optional<JSONDictionary> Beacon::getCurrentRunningBeacon() {
  std::optional<JSONDictionary> record;
  contain([&](BeaconDatabase& store) { record = store.getCurrentRunningBeacon(); });
  return record;
}

std::optional<std::string> Beacon::deviceModel() const {
  char machine[32];
  std::size_t length = sizeof machine;
  if (sysctlbyname("hw.machine", machine, &length, nullptr, 0) != 0) return std::nullopt;
  return std::string(machine, strnlen(machine, sizeof machine));
}
