// What is drawn over the tuning overlay leaves its text readable, whatever the values.
#include <gtest/gtest.h>

#include "MicrophoneOffView.h"
#include "QuibbleDebugView.h"
#include "TuningPanelView.h"
#include "VoiceEngineState.h"
#include "platform/UIImage.h"

namespace {
bool intersects(CGRect a, CGRect b) {
  return a.origin.x < b.origin.x + b.size.width && b.origin.x < a.origin.x + a.size.width &&
         a.origin.y < b.origin.y + b.size.height && b.origin.y < a.origin.y + a.size.height;
}
}  // namespace

TEST(OverlayLayout, TheBadgeNeverCoversALineAndEachLineHasItsBacking) {
  // The widest values the overlay can be made to show, and the defaults.
  const struct {
    float pitch;
    std::uint16_t level;
  } cases[] = {{2.0f, 20}, {4.0f, 3020}, {0.25f, 65535}};
  auto badge = MicrophoneOffView::init();
  badge->placeClearOfTuning(true);
  const auto font = UIFont::systemFontOfSize(UIFont::systemFontSize());
  for (const auto& c : cases) {
    quibblePitch = c.pitch;
    averageLevelRunning = c.level;
    maxRecordingLevels = c.level;
    const auto lines = QuibbleDebugView::textLines();
    const auto strips = TuningPanelView::strips();
    ASSERT_EQ(strips.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const CGSize s = sizeWithFont(lines[i].text, *font);
      const CGRect text = CGRectMake(0, lines[i].y, s.width, s.height);
      EXPECT_FALSE(intersects(badge->frame(), text)) << lines[i].text;
      EXPECT_LE(strips[i].origin.y, text.origin.y) << lines[i].text;
      EXPECT_GE(strips[i].origin.x + strips[i].size.width, s.width + TuningPanelView::kMargin);
      EXPECT_GE(strips[i].origin.y + strips[i].size.height, text.origin.y + text.size.height);
    }
  }
  quibblePitch = 2.0f;
  averageLevelRunning = 20;
  maxRecordingLevels = 0;
}
