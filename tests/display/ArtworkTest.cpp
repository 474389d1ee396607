// The shipped artwork: every frame is a full picture whose edges join the neighbouring quads
// without a seam, and the icon keeps clear of its image border at every installed size.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/PngFrames.h"

namespace {

struct Image {
  std::vector<std::uint8_t> rgba;
  int width = 0;
  int height = 0;
  const std::uint8_t* at(int x, int y) const { return &rgba[(std::size_t(y) * width + x) * 4]; }
};

Image load(const std::string& relative) {
  Image image;
  const platform::Status read =
      platform::readPng(std::string(QB_SOURCE_DIR) + "/" + relative, image.rgba, image.width, image.height);
  EXPECT_TRUE(read) << read.message();
  return image;
}

// Rows where a column of one image and a column of another differ visibly: more than palette
// rounding and anti-aliasing (which stay within 24 levels) would.
int differingRows(const Image& a, int columnA, const Image& b, int columnB) {
  int rows = 0;
  for (int y = 0; y < a.height && y < b.height; ++y) {
    for (int c = 0; c < 4; ++c) {
      if (std::abs(a.at(columnA, y)[c] - b.at(columnB, y)[c]) > 24) {
        ++rows;
        break;
      }
    }
  }
  return rows;
}

TEST(Artwork, FramesAreOpaqueAndEveryQuadEdgeMatchesEveryOther) {
  // The view wraps its textures, so a quad's own two edges meet as well as its neighbours'.
  const Image reference = load("resources/QB_00_00.png");
  ASSERT_EQ(reference.width, 512);
  for (int j = 0; j < 4; ++j) {
    for (int k = 0; k < 6; ++k) {
      char name[40];
      std::snprintf(name, sizeof name, "resources/QB_%02d_%02d.png", j, k);
      SCOPED_TRACE(name);
      const Image frame = load(name);
      ASSERT_EQ(frame.width, 512);
      ASSERT_EQ(frame.height, 1024);
      int seeThrough = 0;
      for (std::size_t i = 3; i < frame.rgba.size(); i += 4) seeThrough += frame.rgba[i] != 255;
      EXPECT_EQ(seeThrough, 0);
      EXPECT_LE(differingRows(frame, 0, reference, 0), 2);
      EXPECT_LE(differingRows(frame, frame.width - 1, reference, 0), 2);
    }
  }
}

TEST(Artwork, TheIconFillsItsBadgeAndLeavesTheBorderClearAtEverySize) {
  for (int size : {16, 24, 48, 64, 128, 256, 512}) {
    SCOPED_TRACE(size);
    const Image icon = load("packaging/icons/quibblers-" + std::to_string(size) + ".png");
    ASSERT_EQ(icon.width, size);
    ASSERT_EQ(icon.height, size);
    int onBorder = 0;
    for (int i = 0; i < size; ++i) {
      onBorder += icon.at(i, 0)[3] != 0;
      onBorder += icon.at(i, size - 1)[3] != 0;
      onBorder += icon.at(0, i)[3] != 0;
      onBorder += icon.at(size - 1, i)[3] != 0;
    }
    EXPECT_EQ(onBorder, 0);
    EXPECT_EQ(icon.at(size / 2, size / 2)[3], 255);
  }
}

}  // namespace
