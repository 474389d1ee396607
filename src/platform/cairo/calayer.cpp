#include "platform/calayer.h"

#include <cmath>
#include <cstring>

int CAEAGLLayer::drawablePixelWidth() const {
  return static_cast<int>(std::lround(bounds().size.width * contentsScale()));
}

int CAEAGLLayer::drawablePixelHeight() const {
  return static_cast<int>(std::lround(bounds().size.height * contentsScale()));
}

void CAEAGLLayer::prepareStorage(int width, int height) {
  storageWidth_ = width > 0 ? width : 0;
  storageHeight_ = height > 0 ? height : 0;
  storage_.assign(std::size_t(storageWidth_) * std::size_t(storageHeight_) * 4, 0);
}

void CAEAGLLayer::didPresent() {
  const std::size_t row = std::size_t(storageWidth_) * 4;
  pixels_.resize(storage_.size());  // allocates only when the size changed
  // GL hands rows bottom-up; the layer keeps them top row first.
  for (int y = 0; y < storageHeight_; ++y) {
    std::memcpy(pixels_.data() + std::size_t(y) * row,
                storage_.data() + std::size_t(storageHeight_ - 1 - y) * row, row);
  }
  pixelWidth_ = storageWidth_;
  pixelHeight_ = storageHeight_;
  ++presentCount_;
  if (observer_) observer_();
}
