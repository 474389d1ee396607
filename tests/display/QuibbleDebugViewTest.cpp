// The tuning overlay: tap bands and their formulas, the text it shows, and how it looks over the
// character.
#include <cmath>
#include <limits>

#include "EAGLViewFixture.h"
#include "QuibbleDebugView.h"
#include "platform/UIWindow.h"

namespace {

void tap(QuibbleDebugView& view, float x, float y) {
  UITouch finger(&view, CGPoint{x, y}, UITouchPhaseBegan);
  const UITouchSet touches({&finger});
  const UIEvent event(touches);
  view.touchesBegan(touches, &event);
}

// Every variable the overlay can set, to see that a tap changed exactly one (or none).
struct Tunables {
  float pitch = quibblePitch, tempo = quibbleTimeStretch, gainValue = gain;
  std::uint16_t monitoring = monitoringThreshold, recording = recordingThreshold;
  std::int32_t sequence = st_sequenceMS, seek = st_seekWindowMS, overlap = st_overlapMS;
  bool operator==(const Tunables&) const = default;
};

// Rows of the frame that hold any near-black pixel in the left half.
std::vector<bool> inkRows(const UIWindow& window) {
  std::vector<bool> rows(window.pixelHeight(), false);
  for (int y = 0; y < window.pixelHeight(); ++y) {
    for (int x = 0; x < 320 && !rows[y]; ++x) {
      const std::uint8_t* p = window.framePixels().data() + (std::size_t(y) * 640 + x) * 4;
      rows[y] = p[0] < 60 && p[1] < 60 && p[2] < 60;
    }
  }
  return rows;
}

}  // namespace

using QuibbleDebugViewTest = EAGLViewTest;

TEST_F(QuibbleDebugViewTest, EachBandSetsItsVariableFromX) {
  auto view = QuibbleDebugView::initWithFrame(CGRectMake(0, 0, 320, 480));
  struct Case {
    float x, y;
    double expected;
    const char* what;
  };
  const Case cases[] = {
      {160, 0, 1.0, "pitch"},          {0, 10, 0.25, "pitch"},        {320, 47.9f, 4.0, "pitch"},
      {160, 48, 1.0, "tempo"},         {0, 95, 0.25, "tempo"},        {0, 192, 20, "monitoring"},
      {320, 239, 3020, "monitoring"},  {160, 200, 1262, "monitoring"}, {0, 240, 20, "recording"},
      {320, 287, 3020, "recording"},   {0, 288, 0.1, "gain"},         {320, 335, 4.1, "gain"},
      {160, 336, 76, "sequence"},      {0, 383, 1, "sequence"},       {160, 384, 26, "seek"},
      {320, 431, 51, "seek"},          {100, 432, 15, "overlap"},     {320, 479, 46, "overlap"},
  };
  for (const Case& c : cases) {
    resetVoiceEngineState();
    quibblePitch = 3.0f;  // none of the expected values
    quibbleTimeStretch = 3.0f;
    const Tunables before;
    tap(*view, c.x, c.y);
    Tunables expected = before;
    const std::string what = c.what;
    if (what == "pitch") expected.pitch = static_cast<float>(c.expected);
    if (what == "tempo") expected.tempo = static_cast<float>(c.expected);
    if (what == "gain") expected.gainValue = static_cast<float>(c.expected);
    if (what == "monitoring") expected.monitoring = static_cast<std::uint16_t>(c.expected);
    if (what == "recording") expected.recording = static_cast<std::uint16_t>(c.expected);
    if (what == "sequence") expected.sequence = static_cast<std::int32_t>(c.expected);
    if (what == "seek") expected.seek = static_cast<std::int32_t>(c.expected);
    if (what == "overlap") expected.overlap = static_cast<std::int32_t>(c.expected);
    EXPECT_TRUE(Tunables{} == expected) << what << " at " << c.x << "," << c.y;
  }
}

TEST_F(QuibbleDebugViewTest, TapsOnTheLevelsOrBelowTheBandsChangeNothing) {
  auto view = QuibbleDebugView::initWithFrame(CGRectMake(0, 0, 320, 480));
  const Tunables before;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (float y : {96.0f, 100.0f, 150.0f, 191.0f, 480.0f, 700.0f, nan}) tap(*view, 300, y);
  tap(*view, nan, 10);  // a position that is not a number never reaches the engine
  EXPECT_TRUE(Tunables{} == before);
  EXPECT_FALSE(std::isnan(quibblePitch.load()));
}

TEST_F(QuibbleDebugViewTest, TextShowsElevenValuesAndPostValueAsksForARedraw) {
  auto view = QuibbleDebugView::initWithFrame(CGRectMake(0, 0, 320, 480));
  EXPECT_EQ(view->value(), 0.0f);
  const auto lines = QuibbleDebugView::textLines();
  const std::vector<std::pair<CGFloat, std::string>> expected = {
      {0, "pitch: 2.000000"},
      {48, "tempo: 1.000000"},
      {96, "averageLevelRunning: 20.000000"},
      {120, "maxRecordingLevels: 0.000000"},
      {144, "averageLevel: 0.000000"},
      {192, "monitoringThreshold: 315.000000"},
      {240, "recordingThreshold: 315.000000"},
      {288, "gain: 1.000000"},
      {336, "sequenceMS: 45.000000"},
      {384, "seekWindowMS: 26.000000"},
      {432, "overlapMS: 5.000000"},
  };
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].y, expected[i].first);
    EXPECT_EQ(lines[i].text, expected[i].second);
  }
  quibblePitch = 1.6f;  // shown as the float widened, not the decimal typed
  averageLevel = 65535;
  EXPECT_EQ(QuibbleDebugView::textLines()[0].text, "pitch: 1.600000");
  EXPECT_EQ(QuibbleDebugView::textLines()[4].text, "averageLevel: 65535.000000");

  UIWindow window;
  window.addSubview(view);
  window.composite();
  averageLevelRunning = 777;
  view->postValue();
  EXPECT_EQ(view->value(), 777.0f);
  EXPECT_TRUE(view->needsDisplay());
  window.composite();
  averageLevelRunning = 12;
  view->setValue(-5.0f);  // the argument is not kept
  EXPECT_EQ(view->value(), 12.0f);
  EXPECT_TRUE(view->needsDisplay());
}

TEST_F(QuibbleDebugViewTest, BlackLinesOverTheCharacterChangeOnlyAfterARedraw) {
  writeArtwork();
  auto character = makeView();
  ASSERT_TRUE(character);
  auto overlay = QuibbleDebugView::initWithFrame(CGRectMake(0, 0, 320, 480));
  UIWindow window;
  window.addSubview(character);
  window.addSubview(overlay);
  window.composite();

  // Ink starts in each line's own rows (y to y + ascent + descent points) and nowhere above.
  const auto ink = inkRows(window);
  for (const auto& line : QuibbleDebugView::textLines()) {
    const int top = static_cast<int>(line.y) * 2;
    bool inked = false;
    for (int y = top; y < top + 34; ++y) inked = inked || ink[y];
    EXPECT_TRUE(inked) << line.text;
    for (int y = std::max(0, top - 8); y < top; ++y) EXPECT_FALSE(ink[y]) << line.text << " " << y;
  }
  EXPECT_EQ(fixtures::identify(window.framePixels().data() + (480 * 640 + 600) * 4).character, -1);
  EXPECT_EQ(fixtures::identify(window.framePixels().data() + (470 * 640 + 500) * 4).character, 0);

  // Through the window, a tap lands on the overlay, not the character below it.
  const std::vector<std::uint8_t> before = window.framePixels();
  window.sendTouch(UITouchPhaseBegan, CGPointMake(0, 350));
  window.sendTouch(UITouchPhaseEnded, CGPointMake(0, 350));
  EXPECT_EQ(st_sequenceMS, 1);
  EXPECT_EQ(character->location_touchesBegan(), CGPointMake(0, 0));
  window.composite();
  EXPECT_EQ(window.framePixels(), before);  // not redrawn yet

  overlay->postValue();
  window.composite();
  const auto& after = window.framePixels();
  const std::size_t row = 640 * 4;
  auto rowsDiffer = [&](int from, int to) {
    return !std::equal(before.begin() + from * row, before.begin() + to * row, after.begin() + from * row);
  };
  EXPECT_TRUE(rowsDiffer(336 * 2, 384 * 2));  // "sequenceMS: 1.000000"
  EXPECT_FALSE(rowsDiffer(0, 336 * 2));
  EXPECT_FALSE(rowsDiffer(384 * 2, 960));
}
