// The mouth: level mapping, idle saw-tooth, which frame each engine mode shows, and the camera
// spring.
#include <cmath>
#include <limits>
#include <set>

#include "EAGLViewFixture.h"

TEST_F(EAGLViewTest, LevelsMapOntoTheFourSpeakingFrames) {
  auto view = makeView();
  ASSERT_TRUE(view);
  struct Case {
    float level;
    float value;
    int frame;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (const Case& c : {Case{0.0f, 0.33334f, 2}, Case{-2.0f, 0.33334f, 2},
                        Case{1.0f, 0.99999f, 5}, Case{7.0f, 0.99999f, 5},
                        Case{0.2499f, 0.4999358f, 2}, Case{0.2501f, 0.5000691f, 3},
                        Case{0.5f, 0.666665f, 4}, Case{0.74f, 0.826661f, 4},
                        Case{0.76f, 0.839994f, 5}}) {
    view->setValue(c.level);
    EXPECT_NEAR(view->quibbler_value(), c.value, 1e-6) << c.level;
    EXPECT_EQ(view->getValue(), c.frame) << c.level;
  }
  // Exactly the stored float of the double-precision mapping.
  view->setValue(0.0f);
  EXPECT_EQ(view->quibbler_value(), static_cast<float>(0.33334));
  view->setValue(nan);
  EXPECT_TRUE(std::isnan(view->quibbler_value()));
  EXPECT_EQ(view->getValue(), 5);
}

TEST_F(EAGLViewTest, IdleCycleIsASawToothBetweenTheRestFrames) {
  auto view = makeView();
  ASSERT_TRUE(view);
  view->setValue(0.8f);  // speech leaves the counter at 0
  view->setValueIdle(123.0f);  // the argument means nothing
  EXPECT_FLOAT_EQ(view->quibbler_counter(), 0.05125f);
  EXPECT_NEAR(view->quibbler_value(), 0.0464, 1e-4);
  EXPECT_EQ(view->getValue(), 0);

  // Count the saw-tooth's wraps over many ticks: one per 1 / (0.05125 e) ≈ 7.18 ticks.
  int wraps = 0;
  int changes = 0;
  float last = view->quibbler_value();
  int lastFrame = view->getValue();
  const int ticks = 718;
  for (int i = 1; i < ticks; ++i) {
    view->setValueIdle(0);
    const float v = view->quibbler_value();
    EXPECT_GE(v, 0.0f);
    EXPECT_LT(v, 0.3333f);
    EXPECT_LE(view->getValue(), 1);
    if (v < last) ++wraps;
    if (view->getValue() != lastFrame) ++changes;
    last = v;
    lastFrame = view->getValue();
  }
  EXPECT_NEAR(static_cast<double>(ticks) / wraps, 7.18, 0.08);
  EXPECT_NEAR(changes, 2 * wraps, 2);  // frame 0 then 1 within every period

  view->setValue(0.1f);
  EXPECT_EQ(view->quibbler_counter(), 0.0f);
}

TEST_F(EAGLViewTest, ListeningAndRecordingShowTheIdleFrames) {
  writeArtwork();
  auto view = makeView();
  ASSERT_TRUE(view);
  for (std::uint16_t mode : {kModeListening, kModeRecording}) {
    programMode = mode;
    view->setValue(0.5f);
    std::set<int> seen;
    for (int i = 0; i < 8; ++i) {
      tick(*view);
      const auto s = seenAt(*view, 320);
      EXPECT_EQ(s.character, 0);
      EXPECT_EQ(s.frame, view->getValue());
      if (i == 0) {
        EXPECT_EQ(s.frame, 0) << "the cycle starts again at frame 0";
      }
      seen.insert(s.frame);
    }
    EXPECT_EQ(seen, (std::set<int>{0, 1})) << mode;
  }
}

TEST_F(EAGLViewTest, PlaybackFramesFollowLevelOverPeak) {
  writeArtwork();
  auto view = makeView();
  ASSERT_TRUE(view);
  struct Case {
    std::uint16_t mode, level, peak;
    int frame;
  };
  for (const Case& c : {Case{kModePlaying, 0, 1000, 2}, Case{kModePlaying, 300, 1000, 3},
                        Case{kModePlaying, 600, 1000, 4}, Case{kModePlaying, 1000, 1000, 5},
                        Case{kModePlaying, 3000, 1000, 5}, Case{kModePlaying, 0, 0, 5},
                        Case{kModePlaying, 40, 0, 5}, Case{kModeGreeting, 65535, 65535, 5},
                        Case{kModeGreeting, 100, 1000, 2}}) {
    programMode = c.mode;
    averageLevel = c.level;
    maxRecordingLevels = c.peak;
    tick(*view);
    const auto s = seenAt(*view, 320);
    EXPECT_EQ(s.character, 0);
    EXPECT_EQ(s.frame, c.frame) << c.level << "/" << c.peak;
  }
}

TEST_F(EAGLViewTest, FinishingModesHoldTheFrameWhileTheCameraMoves) {
  writeArtwork();
  auto view = makeView();
  ASSERT_TRUE(view);
  programMode = kModePlaying;
  averageLevel = 600;
  maxRecordingLevels = 1000;
  tick(*view);
  const float value = view->quibbler_value();
  view->setTarget_x(0.5f);  // as a drag would
  for (std::uint16_t mode : {kModePlaybackFinished, kModeFinishing}) {
    programMode = mode;
    averageLevel = 0;
    const float before = view->current_x();
    tick(*view);
    EXPECT_EQ(view->quibbler_value(), value);
    EXPECT_EQ(view->quibbler_counter(), 0.0f);
    EXPECT_NE(view->current_x(), before);
        // The character's centre (scene x 0) is where the camera put it, still showing frame 4.
    EXPECT_EQ(seenAt(*view, 320 - static_cast<int>(view->current_x() * 320)).frame, 4);
  }
}

TEST_F(EAGLViewTest, CameraSpringOvershootsSlightlyAndSettles) {
  auto view = makeView();
  ASSERT_TRUE(view);
  view->setTarget_x(2.0f);
  tick(*view);
  // velocity = 0 × 0.3 + (2 − 0) × 1.25
  EXPECT_FLOAT_EQ(view->momentum(), 2.5f);
  EXPECT_FLOAT_EQ(view->current_x(), 2.5f);
  float peak = view->current_x();
  int settledAfter = -1;
  for (int i = 2; i <= 20; ++i) {
    tick(*view);
    peak = std::max(peak, view->current_x());
    if (settledAfter < 0 && std::fabs(view->current_x() - 2.0f) < 0.01f &&
        std::fabs(view->momentum()) < 0.01f) {
      settledAfter = i;
    }
  }
  EXPECT_LT(peak, 2.7f);
  EXPECT_GT(settledAfter, 0);
  EXPECT_LE(settledAfter, 10);
  EXPECT_NEAR(view->current_x(), 2.0f, 1e-4);
}
