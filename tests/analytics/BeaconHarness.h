#pragma once
// Everything a controller test needs: its own documents directory, a run loop installed as the
// current one, a collection server on 127.0.0.1, a network whose status the test chooses, fixed
// device facts, and a frozen location clock with an injectable provider.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Beacon.h"
#include "Classes/Utils/Database/BeaconDatabase.h"
#include "CollectionServer.h"
#include "StoreFixture.h"
#include "TestServers.h"
#include "platform/CurrentRunLoop.h"
#include "platform/UIDevice.h"
#include "platform/CLLocation.h"
#include "platform/Reachability.h"
#include "platform/RunLoop.h"

inline constexpr const char* kCode = "9d4c2b7e81f03a56c7e2d19b40f8a635";

// Fixes on demand: a last known fix, and the fixes a test delivers while updates run.
class FakeLocationProvider : public LocationProvider {
 public:
  std::optional<CLLocation> lastKnownFix() const override { return last; }
  void start(Deliver deliverFix) override {
    deliver = std::move(deliverFix);
    ++starts;
  }
  void stop() override {
    deliver = nullptr;
    ++stops;
  }
  bool running() const { return static_cast<bool>(deliver); }

  std::optional<CLLocation> last;
  Deliver deliver;
  int starts = 0;
  int stops = 0;
};

class BeaconHarness : public StoreFixture {
 protected:
  static constexpr double kNow = 1700000000.0;

  BeaconHarness() : scope_(loop) {
    CollectionServer::set(server.hostAndPort());
    platform::setReachabilityFlagsOverride([this](const std::string& target, SCNetworkReachabilityFlags* flags) {
      *flags = target == "0.0.0.0" ? networkFlags : 0;
      return true;
    });
    UIDevice& device = UIDevice::currentDevice();
    device.setUniqueIdentifier("ID");
    device.setModel("Linux");
    device.setSystemVersion("12");
    device.setMachine("x86_64");
    platform::setLocationClock([] { return kNow; });
  }

  ~BeaconHarness() override {
    Beacon::releaseShared();  // before the loop it may be registered on goes away
    CollectionServer::reset();
    platform::setReachabilityFlagsOverride({});
    platform::setLocationProvider(nullptr);
    platform::setLocationClock({});
    UIDevice::currentDevice().resetToSystemFacts();
  }

  // Ended beacons of an earlier run, each with one sub-beacon; the store is closed again.
  void seedEarlierRun(int beacons) {
    auto store = BeaconDatabase::initWithApplicationCode(kCode);
    for (int i = 0; i < beacons; ++i) {
      store->startNewBeacon();
      store->startNewSubBeaconWithName("earlier " + std::to_string(i), true);
      store->endBeacon();
    }
  }

  Beacon* launch(bool useCoreLocation = false, bool useOnlyWiFi = false) {
    return Beacon::initAndStartBeaconWithApplicationCode(kCode, useCoreLocation, useOnlyWiFi);
  }

  // Runs the loop until no upload is in flight.
  bool settle(Beacon* beacon, double timeout = 15) {
    return loop.runUntil([&] { return !beacon->isUploading(); }, timeout);
  }

  std::string beaconIds() {
    return RawConnection(databaseFile(kCode)).scalar("SELECT group_concat(id) FROM beacon");
  }

  // The document of the idx-th request, parsed.
  nlohmann::ordered_json document(size_t index = 0) {
    const auto all = server.requests();
    if (index >= all.size()) return nullptr;
    return nlohmann::ordered_json::parse(all[index].beacons);
  }

  platform::RunLoop loop;
  FakeCollectionServer server;
  SCNetworkReachabilityFlags networkFlags = kSCNetworkReachabilityFlagsReachable;

 private:
  platform::CurrentRunLoopScope scope_;
};
