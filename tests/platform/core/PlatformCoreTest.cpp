#include <gtest/gtest.h>

#include <fstream>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "platform/NSException.h"
#include "platform/Log.h"
#include "platform/NSBundle.h"
#include "platform/SampleRing.h"

TEST(NSLogTest, FormatsLongLinesWhole) {
  platform::LogCapture capture;
  const std::string longName(2000, 'x');
  NSLog("ran out of memory at QB_%02d_%02d", 3, 5);
  NSLog("name %s end", longName.c_str());
  ASSERT_EQ(capture.lines().size(), 2u);
  EXPECT_EQ(capture.lines()[0], "ran out of memory at QB_03_05");
  EXPECT_EQ(capture.lines()[1], "name " + longName + " end");
}

TEST(NSBundleTest, FindsResourcesByNameAndTypeAndRefusesPathsOutsideIt) {
  TempDir dir;
  std::ofstream(dir.file("greeting01.wav")) << "x";
  auto& bundle = NSBundle::mainBundle();
  const std::string saved = bundle.resourcePath();
  bundle.setResourcePath(dir.path().string());
  EXPECT_EQ(bundle.pathForResource("greeting01", "wav"), dir.file("greeting01.wav"));
  EXPECT_FALSE(bundle.pathForResource("greeting02", "wav"));
  EXPECT_FALSE(bundle.pathForResource("../etc/passwd", ""));
  bundle.setResourcePath(saved);
  EXPECT_TRUE(bundle.infoValue("CFBundleVersion").has_value());
}

TEST(AssertionHandlerTest, RaisesWithOperationFileLineAndMessage) {
  platform::LogCapture capture;
  int object = 0;
  try {
    handleFailureInMethod("startNewBeacon", &object, "Classes/Utils/Database/BeaconDatabase", 42,
                          "Error: failed to start new beacon with message 'disk I/O error'.");
    FAIL() << "no exception";
  } catch (const NSAssertionFailure& failure) {
    EXPECT_EQ(failure.operation(), "startNewBeacon");
    EXPECT_EQ(failure.object(), &object);
    EXPECT_EQ(failure.line(), 42);
    EXPECT_EQ(failure.description(),
              "Error: failed to start new beacon with message 'disk I/O error'.");
  }
  EXPECT_TRUE(capture.contains("BeaconDatabase:42"));
}

TEST(SampleRing, MixesSaturatingKeepsOrderAcrossTheWrapAndDropsWhatDoesNotFit) {
  platform::SampleRing ring(8);
  const std::int16_t a[] = {1, 30000, -30000, 5, 6};
  const std::int16_t b[] = {2, 30000, -30000, 0, 0};
  std::int16_t out[8] = {};
  struct Step {
    std::size_t push;  // samples of a + b
    bool accepted;
    std::size_t pop;
    std::vector<std::int16_t> popped;
  };
  const std::vector<Step> steps = {
      {5, true, 3, {3, 32767, -32768}},
      {5, true, 0, {}},              // 7 held: across the end of the storage
      {2, false, 7, {5, 6, 3, 32767, -32768, 5, 6}},  // 7 + 2 > 8: dropped whole
      {1, true, 8, {3}},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ring.pushMixed(a, b, steps[i].push), steps[i].accepted);
    const std::size_t n = ring.pop(out, steps[i].pop);
    EXPECT_EQ(std::vector<std::int16_t>(out, out + n), steps[i].popped);
  }
  EXPECT_EQ(ring.dropped(), 2u);
  ring.pushMixed(nullptr, b, 2);
  ring.discard();
  EXPECT_EQ(ring.pop(out, 8), 0u) << "a new take starts empty";
}

TEST(SampleRing, AProducerAndAConsumerOnTwoThreadsLoseNothingButWhatIsCountedDropped) {
  platform::SampleRing ring(1000);
  constexpr int kBlocks = 20000;
  constexpr std::size_t kBlock = 64;
  std::thread producer([&] {
    std::int16_t block[kBlock];
    for (int b = 0; b < kBlocks; ++b) {
      for (std::size_t i = 0; i < kBlock; ++i) block[i] = static_cast<std::int16_t>((b * kBlock + i) % 30000);
      ring.pushMixed(block, nullptr, kBlock);
    }
  });
  std::vector<std::int16_t> got;
  std::int16_t out[100];
  for (;;) {
    const std::size_t n = ring.pop(out, 100);
    got.insert(got.end(), out, out + n);
    if (n == 0 && got.size() + ring.dropped() == kBlocks * kBlock) break;
  }
  producer.join();
  // Whole blocks arrive in order; a dropped block is missing whole.
  ASSERT_EQ(got.size() % kBlock, 0u);
  for (std::size_t at = 0; at < got.size(); at += kBlock) {
    for (std::size_t i = 1; i < kBlock; ++i) ASSERT_EQ((got[at] + int(i)) % 30000, got[at + i]) << at;
  }
}
