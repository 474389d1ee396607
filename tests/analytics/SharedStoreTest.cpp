// Two runs of the app at once on one store file, as two real processes: this test program runs
// itself again for each of them (the disabled case below is the child's part).
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "BeaconHarness.h"
#include "ChildProcess.h"

namespace {

std::string selfPath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

const char* environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

// One run: opens its session (after the launch upload of what is stored), and either ends it
// ("ending") or stops without ending it, as a run still going would leave it.
TEST(SharedStoreRun, DISABLED_OneRun) {
  const std::string documents = environment("QB_TEST_DOCUMENTS");
  if (documents.empty()) GTEST_SKIP() << "run by SharedStore tests only";
  platform::setDocumentsDirectory(documents);
  ASSERT_TRUE(CollectionServer::set(environment("QB_TEST_SERVER")));
  platform::setReachabilityFlagsOverride([](const std::string&, SCNetworkReachabilityFlags* flags) {
    *flags = kSCNetworkReachabilityFlagsReachable;
    return true;
  });
  platform::RunLoop loop;
  platform::CurrentRunLoopScope scope(loop);
  Beacon* beacon = Beacon::initAndStartBeaconWithApplicationCode(kCode, false, false);
  ASSERT_TRUE(loop.runUntil([&] { return !beacon->isUploading(); }, 60));
  if (std::string(environment("QB_TEST_ROLE")) == "ending") beacon->endBeacon();
  std::_Exit(::testing::Test::HasFailure() ? 1 : 0);  // no controller teardown: the run just stops
}

using SharedStore = BeaconHarness;

TEST_F(SharedStore, AnAcceptedUploadDeletesNothingAnotherRunEndedWhileItWasOnItsWay) {
  seedEarlierRun(1);  // beacon 1
  server.hold();
  const std::vector<std::string> child = {selfPath(), "--gtest_also_run_disabled_tests",
                                          "--gtest_filter=SharedStoreRun.DISABLED_OneRun"};
  // The first run's launch upload carries beacon 1, then the run opens beacon 2.
  ChildProcess first(child, {{"QB_TEST_DOCUMENTS", documents()}, {"QB_TEST_SERVER", server.hostAndPort()},
                             {"QB_TEST_ROLE", "staying"}},
                     temp().file("first.log"));
  const auto start = std::chrono::steady_clock::now();
  while (server.requestCount() == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(server.requestCount(), 1u);
  // Meanwhile a second run records beacon 3 and ends it; its own uploads find no server.
  ChildProcess second(child, {{"QB_TEST_DOCUMENTS", documents()},
                              {"QB_TEST_SERVER", "127.0.0.1:" + std::to_string(closedPort())},
                              {"QB_TEST_ROLE", "ending"}},
                      temp().file("second.log"));
  ASSERT_EQ(second.wait(60), 0);
  server.release();  // "success" for what the first upload carried
  ASSERT_EQ(first.wait(60), 0);

  EXPECT_EQ(beaconIds(), "2,3");
  EXPECT_NE(RawConnection(databaseFile(kCode)).scalar("SELECT time_stopped FROM beacon WHERE id=3"), "<null>");
}
