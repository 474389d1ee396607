// Creation, textures, framebuffer life cycle and the animation timer of the character view, on
// real llvmpipe rendering.
#include <fstream>
#include <set>

#include "EAGLViewFixture.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"

TEST_F(EAGLViewTest, CreationShowsCharacterZeroCentredOnWhite) {
  writeArtwork();
  auto view = makeView();
  ASSERT_TRUE(view);
  EXPECT_EQ(view->backingWidth(), 640);
  EXPECT_EQ(view->backingHeight(), 960);
  EXPECT_TRUE(view->eaglLayer().isOpaque());
  EXPECT_EQ(view->eaglLayer().drawableProperties().at(kEAGLDrawablePropertyColorFormat),
            kEAGLColorFormatRGBA8);
  EXPECT_DOUBLE_EQ(view->animationInterval(), 1.0 / 24);
  EXPECT_FALSE(view->animationTimer());
  EXPECT_EQ(EAGLContext::currentContext(), view->context());

  // Drawn once during creation, while the engine still holds its load-time mode 3: no level
  // update, so frame 0.
  ASSERT_EQ(view->eaglLayer().presentCount(), 1u);
  EXPECT_EQ(view->quibbler_value(), 0.0f);
  for (int y : {10, 480, 950}) {
    EXPECT_TRUE(seenAt(*view, 40, y).white) << y;   // left margin of the artwork
    EXPECT_TRUE(seenAt(*view, 600, y).white) << y;  // right margin
    const auto centre = seenAt(*view, 320, y);
    EXPECT_EQ(centre.character, 0);
    EXPECT_EQ(centre.frame, 0);
  }
  // Centred: the artwork's edges are 80 pixels in from either side (one texel is 10 pixels,
  // so filtering blends the ten around each edge).
  EXPECT_EQ(seenAt(*view, 90).character, 0);
  EXPECT_TRUE(seenAt(*view, 70).white);
  EXPECT_EQ(seenAt(*view, 549).character, 0);
  EXPECT_TRUE(seenAt(*view, 570).white);
}

TEST_F(EAGLViewTest, ArtworkStandsUprightAndBlendsPremultiplied) {
  using fixtures::frameColour;
  const fixtures::Rgb half = frameColour(0, 4);
  fixtures::writeQuadrantPng(dir_.file("QB_00_00.png"), 64, 128, frameColour(1, 1),
                             frameColour(2, 2), frameColour(3, 3), half, 0.5);
  auto view = makeView();
  ASSERT_TRUE(view);
  EXPECT_EQ(seenAt(*view, 160, 240).character, 1);
  EXPECT_EQ(seenAt(*view, 480, 240).character, 2);
  EXPECT_EQ(seenAt(*view, 160, 720).character, 3);
  // Half-covered white: halfway between the colour and white, not darker.
  const auto& pixels = view->eaglLayer().presentedPixels();
  const std::uint8_t* p = pixels.data() + (720 * 640 + 480) * 4;
  EXPECT_NEAR(p[0], (half.r + 255) / 2.0, 2);
  EXPECT_NEAR(p[1], (half.g + 255) / 2.0, 2);
  EXPECT_NEAR(p[2], (half.b + 255) / 2.0, 2);
  EXPECT_EQ(p[3], 255);
}

TEST_F(EAGLViewTest, EveryFrameImageBecomesItsOwnTexture) {
  writeArtwork();
  auto view = makeView();
  ASSERT_TRUE(view);
  std::set<GLuint> names;
  for (int j = 0; j < 4; ++j) {
    for (int k = 0; k < 6; ++k) names.insert(view->spriteTexture(j, k));
  }
  EXPECT_EQ(names.size(), 24u);
  EXPECT_EQ(names.count(0), 0u);
}

TEST_F(EAGLViewTest, MissingOrUndecodableImagesLeaveTextureZero) {
  // Only the last image exists (zero-padded name), and one file is not a PNG at all.
  fixtures::writeFlatPng(dir_.file("QB_03_05.png"), 64, 128, fixtures::frameColour(3, 5), 8);
  std::ofstream(dir_.file("QB_00_00.png")) << "not a png";
  platform::LogCapture log;
  auto view = makeView();
  ASSERT_TRUE(view);
  for (int j = 0; j < 4; ++j) {
    for (int k = 0; k < 6; ++k) {
      if (j == 3 && k == 5) {
        EXPECT_NE(view->spriteTexture(j, k), 0u);
      } else {
        EXPECT_EQ(view->spriteTexture(j, k), 0u) << j << k;
      }
    }
  }
  ASSERT_EQ(log.lines().size(), 1u);  // the undecodable file, once; missing files say nothing
  EXPECT_NE(log.lines()[0].find("QB_00_00.png"), std::string::npos);
  EXPECT_FALSE(seenAt(*view, 320).character >= 0);  // nothing textured to see
}

TEST_F(EAGLViewTest, IncompleteFramebufferFailsCreationWithTheStatusLogged) {
  platform::LogCapture log;
  auto view = EAGLView::initWithCoder(NSCoder{CGRectMake(0, 0, 0, 0)});
  EXPECT_FALSE(view);
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].rfind("failed to make complete framebuffer object 8c", 0), 0u)
      << log.lines()[0];
}

TEST_F(EAGLViewTest, LayoutReplacesTheFramebufferAndDraws) {
  writeArtwork();
  auto view = makeView();
  ASSERT_TRUE(view);
  const GLuint oldFramebuffer = view->viewFramebuffer();
  const auto presents = view->eaglLayer().presentCount();
  view->layoutSubviews();
  EXPECT_NE(view->viewFramebuffer(), 0u);
  EXPECT_TRUE(glIsFramebufferOES(view->viewFramebuffer()));
  EXPECT_EQ(view->eaglLayer().presentCount(), presents + 1);
  EXPECT_EQ(seenAt(*view, 320).character, 0);
  (void)oldFramebuffer;
  view->destroyFramebuffer();
  EXPECT_EQ(view->viewFramebuffer(), 0u);
  EXPECT_EQ(view->viewRenderbuffer(), 0u);
  EXPECT_FALSE(glIsFramebufferOES(oldFramebuffer));
}

class EAGLViewTimerTest : public EAGLViewTest {
 protected:
  void SetUp() override {
    EAGLViewTest::SetUp();
    platform::RunLoop::main().useVirtualTime(0);
  }
  // Runs the main loop for `seconds` of virtual time; returns the frames presented meanwhile.
  static std::uint64_t framesDuring(EAGLView& view, double seconds) {
    const auto before = view.eaglLayer().presentCount();
    auto& loop = platform::RunLoop::main();
    const double end = loop.now() + seconds - 1e-9;
    loop.runUntil([&] { return loop.now() >= end; }, seconds + 1);
    return view.eaglLayer().presentCount() - before;
  }
};

TEST_F(EAGLViewTimerTest, TicksAtTheIntervalAndStops) {
  auto view = makeView();
  ASSERT_TRUE(view);
  view->startAnimation();
  ASSERT_TRUE(view->animationTimer());
  EXPECT_DOUBLE_EQ(view->animationTimer()->timeInterval(), 1.0 / 24);
  EXPECT_EQ(framesDuring(*view, 1.0), 24u);
  auto timer = view->animationTimer();
  view->stopAnimation();
  EXPECT_FALSE(view->animationTimer());
  EXPECT_FALSE(timer->isValid());
  EXPECT_EQ(framesDuring(*view, 1.0), 0u);
  view->stopAnimation();  // harmless without a timer
  EXPECT_FALSE(view->animationTimer());
}

TEST_F(EAGLViewTimerTest, IntervalChangesReplaceTheRunningTimerOrWaitForTheNextStart) {
  auto view = makeView();
  ASSERT_TRUE(view);
  view->setAnimationInterval(0.5);  // not running: only stored
  EXPECT_FALSE(view->animationTimer());
  EXPECT_EQ(framesDuring(*view, 2.0), 0u);
  view->startAnimation();
  EXPECT_EQ(framesDuring(*view, 2.0), 4u);

  auto old = view->animationTimer();
  view->setAnimationInterval(1.0);  // running: the old timer goes, one new one ticks
  EXPECT_FALSE(old->isValid());
  EXPECT_NE(view->animationTimer(), old);
  EXPECT_EQ(framesDuring(*view, 3.0), 3u);
  EXPECT_DOUBLE_EQ(view->animationInterval(), 1.0);

  // A period of zero or less means the shortest one, 0.1 ms, and still repeats.
  view->setAnimationInterval(0);
  EXPECT_DOUBLE_EQ(view->animationTimer()->timeInterval(), 0.0001);
  EXPECT_NEAR(static_cast<double>(framesDuring(*view, 0.001)), 10.0, 1.0);
  view->stopAnimation();
}

TEST_F(EAGLViewTimerTest, ReleasingTheViewStopsItsTimer) {
  auto view = makeView();
  ASSERT_TRUE(view);
  view->startAnimation();
  std::weak_ptr<NSTimer> timer = view->animationTimer();
  view.reset();
  EXPECT_TRUE(timer.expired());
  EXPECT_EQ(EAGLContext::currentContext(), nullptr);
  // Nothing is left on the loop: in virtual time it returns at once.
  platform::RunLoop::main().run();
}
