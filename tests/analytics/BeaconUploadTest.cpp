#include <chrono>

#include "BeaconHarness.h"
#include "JSONUtils.h"
#include "platform/NSBundle.h"

namespace {

// The document the upload must send for what the store holds now.
std::string expectedDocument(const std::string& model = "x86_64") {
  auto store = BeaconDatabase::initWithApplicationCode(kCode);
  std::string records;
  for (const auto& record : store->getBeaconsToSendWithBeaconRunning(false)) {
    if (!records.empty()) records += ",";
    records += *JSONUtils::jsonStringForValue(record, 0);
  }
  return R"({"iphone_id":"ID","device_model":")" + model + R"(","device_os":"12","application_code":")" +
         std::string(kCode) + R"(","app_version":")" + *NSBundle::mainBundle().infoValue("CFBundleVersion") +
         R"(","beacons":[)" + records + "]}";
}

class RecordCount : public BeaconHarness, public ::testing::WithParamInterface<int> {};

}  // namespace

TEST_P(RecordCount, LaunchUploadSendsEarlierSessionsExactly) {
  seedEarlierRun(GetParam());
  const std::string expected = expectedDocument();
  Beacon* beacon = launch();
  EXPECT_TRUE(beacon->isBeaconStarted());
  ASSERT_TRUE(settle(beacon));
  ASSERT_EQ(server.requestCount(), 1u);
  const auto request = server.requests()[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/");
  EXPECT_EQ(request.contentType, "application/x-www-form-urlencoded");
  ASSERT_TRUE(request.hasBeacons);
  EXPECT_EQ(request.beacons, expected);
  EXPECT_EQ(request.body.rfind("beacons=%7B%22iphone_id%22", 0), 0u);

  const auto parsed = document();
  std::vector<std::string> keys;
  for (const auto& item : parsed.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"iphone_id", "device_model", "device_os", "application_code",
                                            "app_version", "beacons"}));
  ASSERT_EQ(parsed["beacons"].size(), static_cast<size_t>(GetParam()));
  for (int i = 0; i < GetParam(); ++i) EXPECT_EQ(parsed["beacons"][i]["id"], std::to_string(i + 1));
  // Sent before this run's session opened; the delete after "success" keeps that session.
  EXPECT_EQ(beaconIds(), std::to_string(GetParam() + 1));
}

INSTANTIATE_TEST_SUITE_P(BeaconUpload, RecordCount, ::testing::Values(2, 3));

using BeaconUpload = BeaconHarness;

TEST_F(BeaconUpload, NothingStoredMeansNoRequest) {
  Beacon* beacon = launch();
  EXPECT_FALSE(beacon->isUploading());
  loop.runOnce(0.05);
  EXPECT_EQ(server.requestCount(), 0u);
}

struct Answer {
  const char* name;
  int status;
  const char* body;
};

class RejectedAnswer : public BeaconHarness, public ::testing::WithParamInterface<Answer> {};

TEST_P(RejectedAnswer, DeletesNothing) {
  seedEarlierRun(2);
  server.answer(GetParam().status, GetParam().body);
  Beacon* beacon = launch();
  ASSERT_TRUE(settle(beacon));
  EXPECT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(beaconIds(), "1,2,3");
  // The exit upload is refused the same way.
  beacon->endBeacon();
  EXPECT_FALSE(beacon->isUploading());
  EXPECT_EQ(server.requestCount(), 2u);
  EXPECT_EQ(beaconIds(), "1,2,3");
}

INSTANTIATE_TEST_SUITE_P(BeaconUpload, RejectedAnswer,
                         ::testing::Values(Answer{"TrailingLineFeed", 200, "success\n"},
                                           Answer{"Capitalised", 200, "Success"},
                                           Answer{"ServerError", 500, "internal error"},
                                           Answer{"Empty", 200, ""}),
                         [](const ::testing::TestParamInfo<Answer>& answer) { return std::string(answer.param.name); });

TEST_F(BeaconUpload, ClosedPortDeletesNothing) {
  seedEarlierRun(1);
  CollectionServer::set("127.0.0.1:" + std::to_string(closedPort()));
  Beacon* beacon = launch();
  ASSERT_TRUE(settle(beacon));
  beacon->endBeacon();
  EXPECT_FALSE(beacon->isUploading());
  EXPECT_EQ(beaconIds(), "1,2");
}

TEST_F(BeaconUpload, SecondAttemptWhileOneIsInFlightDoesNothing) {
  seedEarlierRun(1);
  server.answer(200, "success", 0.5);
  Beacon* beacon = launch();
  ASSERT_TRUE(beacon->isUploading());
  const auto start = std::chrono::steady_clock::now();
  beacon->attemptToSendBeaconsAsync(true);
  beacon->attemptToSendBeaconsAsync(false);  // would block for the answer if it went out
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  ASSERT_TRUE(settle(beacon));
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(BeaconUpload, EndingTwiceUploadsOnceAndEmptiesTheStore) {
  Beacon* beacon = launch();
  beacon->startSubBeaconWithName("level", true);
  beacon->endBeacon();
  EXPECT_FALSE(beacon->isUploading());
  ASSERT_EQ(server.requestCount(), 1u);
  const auto sent = document()["beacons"];
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_NE(sent[0]["time_stopped"], "");  // ended before it was sent
  EXPECT_EQ(sent[0]["subbeacons"][0]["name"], "level");
  EXPECT_EQ(beaconIds(), "<null>");  // delete after the exit upload: everything
  beacon->endBeacon();
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(BeaconUpload, ABacklogGoesOutOldestFirstInBoundedParts) {
  const int backlog = 2 * static_cast<int>(Beacon::kMaximumBeaconsPerUpload) + 1;
  BeaconDatabase::initWithApplicationCode(kCode);  // the tables
  RawConnection raw(databaseFile(kCode));
  raw.exec("BEGIN");
  for (int i = 0; i < backlog; ++i) raw.exec("INSERT INTO beacon (time_started, time_stopped) VALUES ('1', '2')");
  raw.exec("COMMIT");

  Beacon* beacon = launch();

  ASSERT_TRUE(settle(beacon));
  beacon->endBeacon();
  ASSERT_EQ(server.requestCount(), 2u);
  for (size_t upload = 0; upload < 2; ++upload) {
    const auto sent = document(upload)["beacons"];
    ASSERT_EQ(sent.size(), Beacon::kMaximumBeaconsPerUpload);
    EXPECT_EQ(sent.front()["id"], std::to_string(upload * Beacon::kMaximumBeaconsPerUpload + 1));
    EXPECT_EQ(sent.back()["id"], std::to_string((upload + 1) * Beacon::kMaximumBeaconsPerUpload));
  }
  // The oldest left and this run's own go with the next uploads.
  EXPECT_EQ(beaconIds(), std::to_string(backlog) + "," + std::to_string(backlog + 1));
}

struct ExitWait {
  const char* name;
  double seconds;
  size_t requests;
  const char* left;
};

class LimitedExitWait : public BeaconHarness, public ::testing::WithParamInterface<ExitWait> {};

TEST_P(LimitedExitWait, TheExitUploadGoesOnlyWithTimeLeft) {
  Beacon* beacon = launch();
  beacon->limitExitWait(GetParam().seconds);
  beacon->endBeacon();
  EXPECT_EQ(server.requestCount(), GetParam().requests);
  EXPECT_EQ(beaconIds(), GetParam().left);
}

INSTANTIATE_TEST_SUITE_P(BeaconUpload, LimitedExitWait,
                         ::testing::Values(ExitWait{"NoTimeLeft", 0.0, 0, "1"}, ExitWait{"TimeLeft", 5.0, 1, "<null>"}),
                         [](const ::testing::TestParamInfo<ExitWait>& row) { return std::string(row.param.name); });

TEST_F(BeaconUpload, WiFiOnlyNeedsStatusTwo) {
  networkFlags = kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsTransientConnection;
  Beacon* beacon = launch(false, true);
  beacon->endBeacon();
  EXPECT_EQ(server.requestCount(), 0u);
  EXPECT_EQ(beaconIds(), "1");

  networkFlags = kSCNetworkReachabilityFlagsReachable;
  beacon->attemptToSendBeaconsAsync(false);
  EXPECT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(beaconIds(), "<null>");
}

TEST_F(BeaconUpload, AnyLinkWillDoUnlessThereIsNone) {
  networkFlags = 0;
  Beacon* beacon = launch(false, false);
  beacon->endBeacon();
  EXPECT_EQ(server.requestCount(), 0u);

  networkFlags = kSCNetworkReachabilityFlagsReachable | kSCNetworkReachabilityFlagsTransientConnection;
  beacon->attemptToSendBeaconsAsync(false);
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(BeaconUpload, NamesArriveIntact) {
  const std::vector<std::string> names = {"a&b=c", "1+1", "100%", "say \"hi\"", "back\\slash", "Grüße",
                                          "日本語", "🐹 squeak", "%26%2B",
                                          std::string("bell\x07 and \x01 and \x1f")};
  Beacon* beacon = launch();
  for (const auto& name : names) beacon->startSubBeaconWithName(name, false);
  beacon->endBeacon();
  ASSERT_EQ(server.requestCount(), 1u);
  const auto subs = document()["beacons"][0]["subbeacons"];
  ASSERT_EQ(subs.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(subs[i]["name"], names[i]);
  // Nothing but unreserved characters and escapes on the wire.
  EXPECT_EQ(server.requests()[0].body.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~%="),
            std::string::npos);
}

TEST_F(BeaconUpload, BytesThatAreNotUtf8GoOutAsReplacementCharactersAndStayInTheStore) {
  Beacon* beacon = launch();
  beacon->startSubBeaconWithName("caf\xE9 \xFF!", false);
  beacon->attemptToSendBeaconsAsync(false);  // still running: only this session goes, and stays
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(document()["beacons"][0]["subbeacons"][0]["name"], "caf\uFFFD \uFFFD!");
  EXPECT_EQ(RawConnection(databaseFile(kCode)).scalar("SELECT hex(name) FROM sub_beacon"), "636166E920FF21");
}

TEST_F(BeaconUpload, DeviceFactsAreEscapedAndTheSimulatorModelIsKept) {
  UIDevice::currentDevice().setUniqueIdentifier("quote\" and back\\slash");
  UIDevice::currentDevice().setModel("iPhone Simulator \"test\"");
  Beacon* beacon = launch();
  beacon->endBeacon();
  const auto parsed = document();
  EXPECT_EQ(parsed["iphone_id"], "quote\" and back\\slash");
  EXPECT_EQ(parsed["device_model"], "iPhone Simulator \"test\"");
}

TEST_F(BeaconUpload, DestroyingTheControllerEndsAndUploadsTheSession) {
  launch();
  Beacon::releaseShared();
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_NE(document()["beacons"][0]["time_stopped"], "");
}

TEST_F(BeaconUpload, ReleasingDuringAnAsynchronousUploadCancelsIt) {
  seedEarlierRun(1);
  server.answer(200, "success", 0.3);
  Beacon* beacon = launch();
  ASSERT_TRUE(beacon->isUploading());
  loop.runOnce(0.01);
  Beacon::releaseShared();  // no callback may reach the destroyed controller
  loop.runUntil([] { return false; }, 0.5);
  EXPECT_EQ(beaconIds(), "1,2");
}

TEST_F(BeaconUpload, LaunchUploadCompletesOnAVirtualTimeLoop) {
  // The headless app's loop: virtual time, an animation timer, the network in real time.
  platform::RunLoop virtualLoop;
  virtualLoop.useVirtualTime();
  platform::CurrentRunLoopScope scope(virtualLoop);
  virtualLoop.addTimer(1.0 / 24, 1.0 / 24, [] {});
  seedEarlierRun(1);
  server.answer(200, "success", 0.2);
  Beacon* beacon = launch();
  const auto start = std::chrono::steady_clock::now();
  virtualLoop.runUntil([&] {
    return !beacon->isUploading() || std::chrono::steady_clock::now() - start > std::chrono::seconds(20);
  }, 1e12);
  EXPECT_FALSE(beacon->isUploading());
  EXPECT_EQ(beaconIds(), "2");
  Beacon::releaseShared();
}
