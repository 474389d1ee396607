// The cairo-backed stand-ins: bitmap contexts, images by name, text placement, PNG frames.
#include <gtest/gtest.h>

#include <fstream>

#include "DisplayFixtures.h"
#include "TempDir.h"
#include "platform/Log.h"
#include "platform/PngFrames.h"
#include "platform/NSBundle.h"
#include "platform/UIKit.h"

namespace {

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = NSBundle::mainBundle().resourcePath();
    NSBundle::mainBundle().setResourcePath(dir_.path().string());
  }
  void TearDown() override { NSBundle::mainBundle().setResourcePath(saved_); }
  TempDir dir_;

 private:
  std::string saved_;
};

std::vector<std::uint8_t> pixelAt(const std::vector<std::uint8_t>& rgba, int width, int x, int y) {
  const auto* p = rgba.data() + (std::size_t(y) * width + x) * 4;
  return {p[0], p[1], p[2], p[3]};
}

}  // namespace

TEST_F(ResourcesTest, BitmapContextsHoldUprightPremultipliedRgba) {
  using fixtures::frameColour;
  fixtures::writeQuadrantPng(dir_.file("q.png"), 4, 4, frameColour(1, 1), frameColour(2, 2),
                             frameColour(3, 3), frameColour(0, 4), 0.5);
  auto image = UIImage::imageNamed("q.png");
  ASSERT_TRUE(image);
  CGImageRef cg = image->CGImage();
  ASSERT_EQ(CGImageGetWidth(cg), 4u);
  ASSERT_EQ(CGImageGetHeight(cg), 4u);

  std::vector<std::uint8_t> rgba(4 * 4 * 4, 0);
  CGContextRef c = CGBitmapContextCreate(rgba.data(), 4, 4, 8, 16, CGImageGetColorSpace(cg),
                                         kCGImageAlphaPremultipliedLast);
  ASSERT_TRUE(c);
  CGContextDrawImage(c, CGRectMake(0, 0, 4, 4), cg);
  const auto tl = frameColour(1, 1);
  const auto br = frameColour(0, 4);
  EXPECT_EQ(pixelAt(rgba, 4, 0, 0),
            (std::vector<std::uint8_t>{std::uint8_t(tl.r), std::uint8_t(tl.g), std::uint8_t(tl.b), 255}));
  const auto half = pixelAt(rgba, 4, 3, 3);  // premultiplied: colour × 0.5, alpha 128
  EXPECT_NEAR(half[0], br.r / 2.0, 1);
  EXPECT_NEAR(half[1], br.g / 2.0, 1);
  EXPECT_NEAR(half[3], 128, 1);

  // Drawing again composites over what is there: the half-covered pixel fills up.
  CGContextDrawImage(c, CGRectMake(0, 0, 4, 4), cg);
  EXPECT_NEAR(pixelAt(rgba, 4, 3, 3)[3], 191, 1);

  // A smaller rectangle is measured from the bottom-left corner, y up.
  std::fill(rgba.begin(), rgba.end(), 0);
  CGContextDrawImage(c, CGRectMake(0, 0, 2, 2), cg);
  EXPECT_EQ(pixelAt(rgba, 4, 0, 0)[3], 0);
  EXPECT_EQ(pixelAt(rgba, 4, 0, 2)[0], tl.r);  // the image's top-left, scaled down
  CGContextRelease(c);

  EXPECT_FALSE(CGBitmapContextCreate(rgba.data(), 4, 4, 8, 8, nullptr, kCGImageAlphaPremultipliedLast));
  EXPECT_FALSE(CGBitmapContextCreate(rgba.data(), 4, 4, 16, 32, nullptr, kCGImageAlphaPremultipliedLast));
  EXPECT_FALSE(CGBitmapContextCreate(nullptr, 4, 4, 8, 16, nullptr, kCGImageAlphaPremultipliedLast));
}

TEST_F(ResourcesTest, ImagesByNameArePreferredAtDoubleScaleAndShared) {
  fixtures::writeFlatPng(dir_.file("a.png"), 40, 20, fixtures::frameColour(0, 0), 0);
  fixtures::writeFlatPng(dir_.file("b.png"), 40, 20, fixtures::frameColour(0, 0), 0);
  fixtures::writeFlatPng(dir_.file("b@2x.png"), 80, 40, fixtures::frameColour(0, 1), 0);
  std::ofstream(dir_.file("broken.png")) << "\x89PNG but not really";

  platform::LogCapture log;
  auto a = UIImage::imageNamed("a.png");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->scale(), 1);
  EXPECT_EQ(a->size(), CGSizeMake(40, 20));
  EXPECT_EQ(UIImage::imageNamed("a.png"), a);

  auto b = UIImage::imageNamed("b.png");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->scale(), 2);
  EXPECT_EQ(b->size(), CGSizeMake(40, 20));
  EXPECT_EQ(CGImageGetWidth(b->CGImage()), 80u);

  EXPECT_FALSE(UIImage::imageNamed("missing.png"));
  EXPECT_TRUE(log.lines().empty());
  EXPECT_FALSE(UIImage::imageNamed("broken.png"));
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_NE(log.lines()[0].find("broken.png"), std::string::npos);

  // Preloading decodes ahead and says nothing; imageNamed then hands out the same images.
  auto preloaded = UIImage::preloadImagesNamed({"a.png", "b.png", "missing.png", "broken.png"});
  ASSERT_EQ(preloaded.size(), 4u);
  EXPECT_EQ(preloaded[0], a);
  EXPECT_EQ(preloaded[1], b);
  EXPECT_FALSE(preloaded[2]);
  EXPECT_FALSE(preloaded[3]);
  EXPECT_EQ(log.lines().size(), 1u);
}

TEST(TextTest, TextHangsFromItsTopLeftCornerInTheFillColour) {
  const auto font = UIFont::systemFontOfSize(UIFont::systemFontSize());
  EXPECT_EQ(font->pointSize(), 14);
  const CGSize size = sizeWithFont("pitch: 2.000000", *font);
  EXPECT_GT(size.width, 60);
  EXPECT_NEAR(size.height, 17, 1.5);
  EXPECT_EQ(drawAtPoint("no context", CGPointMake(0, 0), *font), CGSizeMake(0, 0));

  // Draw into a view's store at scale 2 and find the ink.
  class TextView : public UIView {
   public:
    using UIView::UIView;
    void drawRect(CGRect) override {
      CGContextSetRGBFillColor(UIGraphicsGetCurrentContext(), 1, 0, 0, 1);
      drawAtPoint("Hg", CGPointMake(10, 20), *UIFont::systemFontOfSize(14));
    }
  };
  TextView view(CGRectMake(0, 0, 100, 60));
  const UIView::Backing& b = view.displayIfNeeded(2);
  ASSERT_EQ(b.width, 200);
  int top = -1, bottom = -1, left = -1;
  bool red = true;
  for (int y = 0; y < b.height; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(b.data + y * b.stride);
    for (int x = 0; x < b.width; ++x) {
      if ((row[x] >> 24) < 128) continue;
      if (top < 0) top = y;
      bottom = y;
      if (left < 0 || x < left) left = x;
      if ((row[x] & 0xffff) != 0) red = false;  // green and blue stay 0
    }
  }
  EXPECT_TRUE(red);
  // Caps and the descender sit within ascent + descent below y = 20 points (40 pixels).
  EXPECT_GE(top, 40);
  EXPECT_LE(top, 40 + 8);
  EXPECT_LE(bottom, 40 + 34);
  EXPECT_GE(bottom, 40 + 26);
  EXPECT_NEAR(left, 20, 4);
}

TEST(PngFramesTest, WritesANumberedSeriesThatReadsBack) {
  TempDir dir;
  auto opened = platform::PngFrameWriter::open(dir.file("frames/run"), 3, 2);
  ASSERT_TRUE(opened) << opened.message();
  auto& writer = *opened;
  std::vector<std::uint8_t> frame = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255,
                                     10, 20, 30, 255, 0, 0, 0, 0, 50, 25, 0, 128};
  ASSERT_TRUE(writer->writeFrame(frame.data()));
  ASSERT_TRUE(writer->writeFrame(frame.data()));
  EXPECT_EQ(writer->framesWritten(), 2u);
  EXPECT_EQ(writer->pathForFrame(1), dir.file("frames/run/frame_000001.png"));

  std::vector<std::uint8_t> back;
  int w = 0, h = 0;
  const platform::Status read = platform::readPng(writer->pathForFrame(0), back, w, h);
  ASSERT_TRUE(read) << read.message();
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 2);
  ASSERT_EQ(back.size(), frame.size());
  for (std::size_t i = 0; i < 20; ++i) EXPECT_EQ(back[i], frame[i]) << i;
  EXPECT_NEAR(back[20], 50, 1);  // premultiplied half-alpha survives the round trip
  EXPECT_EQ(back[23], 128);

  std::ofstream(dir.file("plain")) << "x";
  const auto refused = platform::PngFrameWriter::open(dir.file("plain"), 3, 2);
  EXPECT_FALSE(refused);
  EXPECT_NE(refused.message().find("plain"), std::string::npos);
  EXPECT_FALSE(platform::readPng(dir.file("plain"), back, w, h));
}
