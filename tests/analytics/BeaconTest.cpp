#include <sys/utsname.h>

#include <filesystem>
#include <fstream>

#include "BeaconHarness.h"
#include "platform/NSException.h"
#include "platform/Log.h"

using BeaconSession = BeaconHarness;

TEST_F(BeaconSession, SharedRaisesUntilAControllerExistsAndAfterItIsGone) {
  try {
    Beacon::shared();
    FAIL() << "no exception";
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), "BeaconNotInitalized");
    EXPECT_EQ(e.reason(), "The beacon is not initalized");
  }
  EXPECT_THROW(Beacon::endSharedBeacon(), NSException);
  Beacon* beacon = launch();
  EXPECT_EQ(Beacon::shared(), beacon);
  Beacon::releaseShared();
  EXPECT_THROW(Beacon::shared(), NSException);
  EXPECT_FALSE(BeaconDatabase::shared());
}

TEST_F(BeaconSession, SecondLaunchReturnsTheFirstControllerUnchanged) {
  Beacon* first = launch(false, false);
  Beacon* second = Beacon::initAndStartBeaconWithApplicationCode("other", true, true);
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->code(), kCode);
  EXPECT_FALSE(first->usesCoreLocation());
  EXPECT_FALSE(first->usesOnlyWiFi());
  first->startBeacon();  // already open: nothing
  EXPECT_EQ(beaconIds(), "1");
}

TEST_F(BeaconSession, SubBeaconsNeedAnOpenSession) {
  Beacon* beacon = launch();
  beacon->startSubBeaconWithName("level", true);
  beacon->endSubBeaconWithName("level");
  beacon->endBeacon();
  EXPECT_THROW(beacon->startSubBeaconWithName("late", true), NSException);
  EXPECT_NO_THROW(beacon->endSubBeaconWithName("late"));
  EXPECT_EQ(RawConnection(databaseFile(kCode)).scalar("SELECT COUNT(*) FROM sub_beacon WHERE name='late'"), "0");
}

TEST_F(BeaconSession, LongNamesAreWarnedAboutAndKeptWhole) {
  Beacon* beacon = launch();
  platform::LogCapture log;
  const std::string hamsters16 = [] {
    std::string s;
    for (int i = 0; i < 16; ++i) s += "🐹";  // two UTF-16 units each
    return s;
  }();
  beacon->startSubBeaconWithName(std::string(32, 'a'), false);
  beacon->startSubBeaconWithName(hamsters16, false);
  EXPECT_TRUE(log.lines().empty());
  beacon->startSubBeaconWithName(std::string(33, 'b'), false);
  beacon->startSubBeaconWithName(hamsters16 + "x", false);
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_EQ(log.lines()[0], "Subbeacon names are limited to 32 characters. \"" + std::string(33, 'b') + "\" will be truncated.");
  EXPECT_EQ(RawConnection(databaseFile(kCode)).scalar("SELECT name FROM sub_beacon WHERE id=3"), std::string(33, 'b'));
}

TEST_F(BeaconSession, WithoutLocationNoManagerIsMadeButTheHostMaySetOne) {
  platform::setLocationProvider(std::make_shared<FakeLocationProvider>());
  Beacon* beacon = launch(false);
  EXPECT_EQ(beacon->currentLocationManager(), nullptr);
  EXPECT_EQ(beacon->getCurrentRunningBeacon()->text("latitude"), "");
  beacon->setBeaconLocation(CLLocation({48.5, 9.25}, kNow));
  EXPECT_EQ(beacon->getCurrentRunningBeacon()->text("latitude"), "48.5");
  EXPECT_EQ(beacon->getCurrentRunningBeacon()->text("longitude"), "9.25");
}

TEST_F(BeaconSession, RecentCachedFixIsRecordedWithoutStartingUpdates) {
  auto provider = std::make_shared<FakeLocationProvider>();
  provider->last = CLLocation({52.5, 13.25}, kNow - 300);  // exactly 300 s old
  platform::setLocationProvider(provider);
  Beacon* beacon = launch(true);
  ASSERT_NE(beacon->currentLocationManager(), nullptr);
  EXPECT_EQ(provider->starts, 0);
  EXPECT_EQ(beacon->getCurrentRunningBeacon()->text("latitude"), "52.5");
}

TEST_F(BeaconSession, StaleCachedFixStartsUpdatesAndTheFirstFixEndsThem) {
  auto provider = std::make_shared<FakeLocationProvider>();
  provider->last = CLLocation({52.5, 13.25}, kNow - 301);
  platform::setLocationProvider(provider);
  Beacon* beacon = launch(true);
  EXPECT_EQ(provider->starts, 1);
  EXPECT_EQ(beacon->getCurrentRunningBeacon()->text("latitude"), "");
  ASSERT_TRUE(provider->running());
  provider->deliver(CLLocation({1.5, 2.5}, kNow - 5000));  // taken as it comes, however old
  EXPECT_EQ(beacon->getCurrentRunningBeacon()->text("latitude"), "1.5");
  EXPECT_FALSE(provider->running());
  EXPECT_FALSE(beacon->currentLocationManager()->isUpdatingLocation());
}

TEST_F(BeaconSession, FixAfterTheSessionEndedIsIgnoredAndUpdatesGoOn) {
  auto provider = std::make_shared<FakeLocationProvider>();
  platform::setLocationProvider(provider);
  Beacon* beacon = launch(true);
  ASSERT_TRUE(provider->running());  // no cached fix at all
  server.answer(500, "no");          // keep the ended beacon in the store
  beacon->endBeacon();
  provider->deliver(CLLocation({7, 8}, kNow));
  EXPECT_TRUE(provider->running());
  EXPECT_EQ(RawConnection(databaseFile(kCode)).scalar("SELECT latitude FROM beacon"), "<null>");
}

TEST_F(BeaconSession, LocationServicesOffMeansNoLocation) {
  Beacon* beacon = launch(true);
  ASSERT_NE(beacon->currentLocationManager(), nullptr);
  EXPECT_FALSE(CLLocationManager::locationServicesEnabled());
  EXPECT_FALSE(beacon->currentLocationManager()->isUpdatingLocation());
  EXPECT_EQ(beacon->getCurrentRunningBeacon()->text("latitude"), "");
}

TEST_F(BeaconSession, DeviceModelIsTheMachineNameOrNone) {
  Beacon* beacon = launch();
  UIDevice::currentDevice().resetToSystemFacts();
  utsname names{};
  uname(&names);
  EXPECT_EQ(beacon->deviceModel(), std::string(names.machine));
  UIDevice::currentDevice().setMachine(std::string(31, 'm'));
  EXPECT_EQ(beacon->deviceModel(), std::string(31, 'm'));
  UIDevice::currentDevice().setMachine(std::string(32, 'm'));  // no room for the NUL
  EXPECT_FALSE(beacon->deviceModel());
}

// --- Store failures stay inside the library

using BeaconContainment = BeaconHarness;

TEST_F(BeaconContainment, UnwritableDocumentsDirectoryRunsWithoutAnalytics) {
  std::ofstream(documents()) << "a file where the directory should be";
  platform::LogCapture log;
  Beacon* beacon = launch();
  ASSERT_NE(beacon, nullptr);
  EXPECT_EQ(Beacon::shared(), beacon);
  EXPECT_FALSE(beacon->analyticsEnabled());
  EXPECT_TRUE(log.contains("Analytics off for this run: Failed to create tallyhive directory."));
  EXPECT_NO_THROW(beacon->startSubBeaconWithName("x", true));
  EXPECT_NO_THROW(Beacon::shared()->endBeacon());
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(BeaconContainment, CorruptFileRunsWithoutAnalytics) {
  std::filesystem::create_directories(documents() + "/tallyhive");
  std::ofstream(databaseFile(kCode)) << std::string(4096, '#');
  platform::LogCapture log;
  Beacon* beacon = launch();
  ASSERT_NE(beacon, nullptr);
  EXPECT_FALSE(beacon->analyticsEnabled());
  EXPECT_TRUE(log.contains("Analytics off for this run: Error: failed to prepare statement with message 'file is not a database'."));
  EXPECT_NO_THROW(Beacon::shared()->endBeacon());
  EXPECT_FALSE(beacon->getCurrentRunningBeacon());
}

TEST_F(BeaconContainment, FailureDuringTheRunTurnsAnalyticsOffOnce) {
  Beacon* beacon = launch();
  RawConnection(databaseFile(kCode)).exec("DROP TABLE sub_beacon");
  platform::LogCapture log;
  EXPECT_NO_THROW(beacon->startSubBeaconWithName("x", true));
  EXPECT_FALSE(beacon->analyticsEnabled());
  EXPECT_NO_THROW(beacon->startSubBeaconWithName("y", true));
  EXPECT_NO_THROW(beacon->endBeacon());
  size_t offLines = 0;
  for (const auto& line : log.lines()) offLines += line.find("Analytics off for this run") != std::string::npos;
  EXPECT_EQ(offLines, 1u);
}
