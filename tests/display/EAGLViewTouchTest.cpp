// Dragging between the characters: what is drawn during a drag, when a drag selects a neighbour,
// the voice it brings, and the spring back.
#include <cmath>

#include "EAGLViewFixture.h"

namespace {
// The pixel column showing scene x `sceneX` for the camera at `cameraX`.
int columnOf(float sceneX, float cameraX) {
  return static_cast<int>(std::lround((sceneX - cameraX + 1.0f) * 320.0f));
}
}  // namespace

TEST_F(EAGLViewTest, ShortDragRevealsTheNextCharacterThenSpringsBack) {
  writeArtwork();
  auto view = makeView();
  ASSERT_TRUE(view);
  touch(*view, UITouchPhaseBegan, 250);
  touch(*view, UITouchPhaseMoved, 150);  // finger moved left: the next character comes in
  EXPECT_EQ(view->touches_direction(), 1);
  EXPECT_FLOAT_EQ(view->target_x(), 200.0f / 319.0f);
  tick(*view, 15);
  EXPECT_NEAR(view->current_x(), 0.627f, 1e-3);
  EXPECT_EQ(seenAt(*view, columnOf(0.0f, view->current_x())).character, 0);
  EXPECT_EQ(seenAt(*view, columnOf(1.5f, view->current_x())).character, 1);

  touch(*view, UITouchPhaseEnded, 150);
  EXPECT_EQ(view->current_quibbler(), 0);
  EXPECT_EQ(view->touches_direction(), 0);
  EXPECT_EQ(view->target_x(), 0.0f);
  tick(*view, 15);
  EXPECT_NEAR(view->current_x(), 0.0f, 1e-3);
  EXPECT_EQ(seenAt(*view, 320).character, 0);
  EXPECT_TRUE(seenAt(*view, 600).white);
}

TEST_F(EAGLViewTest, LongDragSelectsTheNeighbourWithItsVoice) {
  writeArtwork();
  auto view = makeView();
  ASSERT_TRUE(view);
  gain = 3.0f;
  drag(*view, 300, 140);  // 160 points
  EXPECT_EQ(view->current_quibbler(), 1);
  EXPECT_EQ(view->target_x(), 2.0f);
  EXPECT_EQ(quibblePitch, 1.6f);
  EXPECT_EQ(quibbleTimeStretch, 1.3f);
  EXPECT_EQ(gain, 1.0f);
  tick(*view, 15);
  EXPECT_NEAR(view->current_x(), 2.0f, 1e-3);
  EXPECT_EQ(seenAt(*view, 320).character, 1);
  EXPECT_TRUE(seenAt(*view, 40).white);
  EXPECT_TRUE(seenAt(*view, 600).white);

  drag(*view, 300, 140);
  EXPECT_EQ(view->current_quibbler(), 2);
  EXPECT_EQ(quibblePitch, 2.5f);
  EXPECT_EQ(quibbleTimeStretch, 1.0f);

  // Back towards the previous character: the finger moves right.
  touch(*view, UITouchPhaseBegan, 50);
  touch(*view, UITouchPhaseMoved, 170);
  EXPECT_EQ(view->touches_direction(), 2);
  EXPECT_NEAR(view->target_x(), 4.0f - 240.0f / 319.0f, 1e-5);
  tick(*view, 15);
  EXPECT_EQ(seenAt(*view, columnOf(2.5f, view->current_x())).character, 1);
  EXPECT_EQ(seenAt(*view, columnOf(4.0f, view->current_x())).character, 2);
}

TEST_F(EAGLViewTest, SwitchingNeedsMoreThanHalfAScreen) {
  auto view = makeView();
  ASSERT_TRUE(view);
  drag(*view, 300, 140.5f);  // exactly 159.5
  EXPECT_EQ(view->current_quibbler(), 0);
  drag(*view, 300, 140.4f);  // 159.6
  EXPECT_EQ(view->current_quibbler(), 1);
  drag(*view, 100, 259.5f);  // −159.5
  EXPECT_EQ(view->current_quibbler(), 1);
  drag(*view, 100, 259.6f);
  EXPECT_EQ(view->current_quibbler(), 0);
}

TEST_F(EAGLViewTest, TheEndsClampAndOnlyTheSelectedCharacterIsDrawnBeyondThem) {
  writeArtwork();
  auto view = makeView();
  ASSERT_TRUE(view);
  // Past the first character: the revealed side stays empty and the selection stays.
  touch(*view, UITouchPhaseBegan, 10);
  touch(*view, UITouchPhaseMoved, 200);
  EXPECT_EQ(view->touches_direction(), 2);
  tick(*view, 15);
  EXPECT_TRUE(seenAt(*view, columnOf(-1.5f, view->current_x())).white);
  EXPECT_EQ(seenAt(*view, columnOf(-0.5f, view->current_x())).character, 0);
  touch(*view, UITouchPhaseEnded, 200);
  EXPECT_EQ(view->current_quibbler(), 0);
  EXPECT_EQ(quibblePitch, 2.0f);

  for (int i = 0; i < 3; ++i) drag(*view, 300, 10);
  EXPECT_EQ(view->current_quibbler(), 3);
  EXPECT_EQ(quibblePitch, 2.0f);
  EXPECT_EQ(quibbleTimeStretch, 2.0f);
  touch(*view, UITouchPhaseBegan, 300);
  touch(*view, UITouchPhaseMoved, 110);
  EXPECT_EQ(view->touches_direction(), 1);
  tick(*view, 15);
  EXPECT_EQ(seenAt(*view, columnOf(6.5f, view->current_x())).character, 3);
  EXPECT_TRUE(seenAt(*view, columnOf(7.5f, view->current_x())).white);
  touch(*view, UITouchPhaseEnded, 110);
  EXPECT_EQ(view->current_quibbler(), 3);
  EXPECT_EQ(view->target_x(), 6.0f);
  tick(*view, 15);
  EXPECT_NEAR(view->current_x(), 6.0f, 1e-3);
  EXPECT_EQ(seenAt(*view, 320).character, 3);
}

TEST_F(EAGLViewTest, ATapNeverSwitchesEvenAfterAnEarlierDrag) {
  auto view = makeView();
  ASSERT_TRUE(view);
  touch(*view, UITouchPhaseBegan, 300);  // a first touch that never moves
  touch(*view, UITouchPhaseEnded, 300);
  EXPECT_EQ(view->current_quibbler(), 0);
  drag(*view, 300, 100);
  EXPECT_EQ(view->current_quibbler(), 1);
  touch(*view, UITouchPhaseBegan, 300);  // 200 points right of where the drag stopped
  touch(*view, UITouchPhaseEnded, 300);
  EXPECT_EQ(view->current_quibbler(), 1);
  EXPECT_EQ(quibblePitch, 1.6f);  // a tap still applies the selected voice
}

TEST_F(EAGLViewTest, ACancelledDragSwitchesNothingAndSpringsBack) {
  auto view = makeView();
  ASSERT_TRUE(view);
  touch(*view, UITouchPhaseBegan, 300);
  touch(*view, UITouchPhaseMoved, 50);
  tick(*view, 3);
  EXPECT_GT(view->current_x(), 0.5f);
  // Values just set on the tuning overlay stay: a cancel is not the end of a touch.
  gain = 3.0f;
  quibblePitch = 0.5f;
  quibbleTimeStretch = 1.7f;
  touch(*view, UITouchPhaseCancelled, 50);
  EXPECT_EQ(view->current_quibbler(), 0);
  EXPECT_EQ(view->touches_direction(), 0);
  EXPECT_EQ(view->target_x(), 0.0f);
  EXPECT_EQ(gain, 3.0f);
  EXPECT_EQ(quibblePitch, 0.5f);
  EXPECT_EQ(quibbleTimeStretch, 1.7f);
  tick(*view, 15);
  EXPECT_NEAR(view->current_x(), 0.0f, 1e-3);
}

TEST_F(EAGLViewTest, ShowingACharacterSelectsItAndItsVoiceWithTheCameraAlreadyThere) {
  writeArtwork();
  auto view = makeView();
  ASSERT_TRUE(view);
  view->showCharacter(2);
  EXPECT_EQ(view->current_quibbler(), 2);
  EXPECT_EQ(quibblePitch, 2.5f);
  tick(*view, 1);
  EXPECT_EQ(view->current_x(), 4.0f) << "no spring from the first character";
  EXPECT_EQ(seenAt(*view, 320).character, 2);
}

TEST_F(EAGLViewTest, AVerticalDragHasNoDirectionAndKeepsTheCharacter) {
  auto view = makeView();
  ASSERT_TRUE(view);
  drag(*view, 300, 100);
  touch(*view, UITouchPhaseBegan, 200, 50);
  touch(*view, UITouchPhaseMoved, 200, 400);
  EXPECT_EQ(view->touches_direction(), 0);
  EXPECT_EQ(view->target_x(), 2.0f);
  touch(*view, UITouchPhaseEnded, 200, 400);
  EXPECT_EQ(view->current_quibbler(), 1);
}

TEST_F(EAGLViewTest, AccessorsAndSceneScaleConversion) {
  auto view = makeView();
  ASSERT_TRUE(view);
  view->setLocation_touchesBegan(CGPoint{12.5f, 7});
  view->setLocation_touchesMoved(CGPoint{-3, 400});
  EXPECT_EQ(view->location_touchesBegan(), (CGPoint{12.5f, 7}));
  EXPECT_EQ(view->location_touchesMoved(), (CGPoint{-3, 400}));
  float x = 0, y = 0, z = 7;
  view->viewCoordsToGLCoords(319, 419, &x, &y, &z);
  EXPECT_EQ(x, 2.0f);
  EXPECT_EQ(y, 3.0f);
  EXPECT_EQ(z, 7.0f);
  view->viewCoordsToGLCoords(159.5f, 0, &x, &y, &z);
  EXPECT_EQ(x, 1.0f);
}
