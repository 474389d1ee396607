// The exit upload against a server that never answers: it must give up after its 5-second
// time-out (measured with margin) and keep everything for the next run.
#include <chrono>

#include "BeaconHarness.h"

using BeaconExitUpload = BeaconHarness;

TEST_F(BeaconExitUpload, NeverBlocksLongerThanItsTimeOut) {
  SilentServer silent;
  CollectionServer::set(silent.hostAndPort());
  Beacon* beacon = launch();
  const auto start = std::chrono::steady_clock::now();
  beacon->endBeacon();
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(elapsed, 4.5);
  EXPECT_LT(elapsed, 7.0);
  EXPECT_FALSE(beacon->isUploading());
  EXPECT_EQ(beaconIds(), "1");
}
