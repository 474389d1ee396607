#include <gtest/gtest.h>

#include <fstream>

#include "TempDir.h"
#include "platform/exceptions.h"
#include "platform/log.h"
#include "platform/resources.h"

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
