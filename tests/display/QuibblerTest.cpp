// The flat character: which image each level shows, the resting cycle, missing images.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "DisplayFixtures.h"
#include "Quibbler.h"
#include "TempDir.h"
#include "platform/NSBundle.h"
#include "platform/UIKit.h"

namespace {

class QuibblerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = NSBundle::mainBundle().resourcePath();
    NSBundle::mainBundle().setResourcePath(dir_.path().string());
    // Smaller than the view, so the image's placement shows.
    fixtures::writeFlatFrames(dir_.path(), 100, 50);
  }
  void TearDown() override { NSBundle::mainBundle().setResourcePath(saved_); }

  std::shared_ptr<Quibbler> placed() {
    auto view = Quibbler::init();
    view->setFrame(CGRectMake(0, 0, 320, 480));
    window_.addSubview(view);
    return view;
  }
  // The flat frame shown at point (x, y), -1 for none.
  int shownAt(float x, float y) {
    window_.composite();
    const auto* p = window_.framePixels().data() +
                    (std::size_t(y * 2) * window_.pixelWidth() + std::size_t(x * 2)) * 4;
    return fixtures::identify(p).flatFrame;
  }

  TempDir dir_;
  UIWindow window_;

 private:
  std::string saved_;
};

}  // namespace

TEST_F(QuibblerTest, LevelsShowTheSpeakingImagesFromTheOrigin) {
  auto view = placed();
  EXPECT_EQ(view->frame(), CGRectMake(0, 0, 320, 480));
  EXPECT_EQ(shownAt(1, 1), 0);  // a new view rests on frame 0
  struct Case {
    float level;
    int frame;
  };
  for (const Case& c : {Case{0, 2}, Case{0.3f, 3}, Case{0.6f, 4}, Case{1, 5}, Case{40, 5},
                        Case{-1, 2}, Case{std::numeric_limits<float>::quiet_NaN(), 5}}) {
    view->setValue(c.level);
    EXPECT_EQ(shownAt(1, 1), c.frame) << c.level;
    EXPECT_EQ(shownAt(99, 49), c.frame) << c.level;
    EXPECT_EQ(shownAt(101, 10), -1) << "drawn at its own size";
    EXPECT_EQ(shownAt(10, 51), -1);
  }
  view->setValue(0);
  EXPECT_FLOAT_EQ(view->getValue(), 0.33334f);  // the value, not a frame number
  view->setValue(1);
  EXPECT_FLOAT_EQ(view->getValue(), 0.99999f);
}

TEST_F(QuibblerTest, RestingCycleAlternatesTheTwoRestImages) {
  auto view = placed();
  view->setValueIdle(0);
  EXPECT_NEAR(view->getValue(), 0.0464, 1e-4);
  EXPECT_EQ(shownAt(1, 1), 0);
  int wraps = 0;
  float last = view->getValue();
  std::set<int> shown;
  for (int i = 1; i < 718; ++i) {
    view->setValueIdle(0);
    if (view->getValue() < last) ++wraps;
    last = view->getValue();
    if (i < 16) shown.insert(shownAt(1, 1));
  }
  EXPECT_EQ(shown, (std::set<int>{0, 1}));
  EXPECT_NEAR(718.0 / wraps, 7.18, 0.08);

  view->setValue(0.5f);  // speech restarts the cycle
  view->setValueIdle(0);
  EXPECT_NEAR(view->getValue(), 0.0464, 1e-4);
}

TEST_F(QuibblerTest, AMissingImageDrawsNothing) {
  std::filesystem::remove(dir_.file("RadireZer03_5.png"));
  auto view = placed();
  view->setValue(1);
  EXPECT_EQ(shownAt(1, 1), -1);
  view->setValue(0);
  EXPECT_EQ(shownAt(1, 1), 2);
}
