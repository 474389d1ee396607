#include "platform/CALayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

std::uint64_t nextContentVersion() {
  static std::uint64_t last = 0;
  return ++last;
}

int CAEAGLLayer::drawablePixelWidth() const {
  return static_cast<int>(std::lround(bounds().size.width * contentsScale()));
}

int CAEAGLLayer::drawablePixelHeight() const {
  return static_cast<int>(std::lround(bounds().size.height * contentsScale()));
}

void CAEAGLLayer::prepareStorage(int width, int height) {
  storageWidth_ = width > 0 ? width : 0;
  storageHeight_ = height > 0 ? height : 0;
  pixels_.assign(std::size_t(storageWidth_) * std::size_t(storageHeight_) * 4, 0);
  back_.assign(pixels_.size(), 0);
  rowSwap_.resize(std::size_t(storageWidth_) * 4);
  // Nothing presented at this size yet.
  pixelWidth_ = 0;
  pixelHeight_ = 0;
  contentVersion_ = nextContentVersion();
}

void CAEAGLLayer::didPresent() {
  // GL hands rows bottom-up; the layer keeps them top row first.
  const std::size_t row = std::size_t(storageWidth_) * 4;
  for (int top = 0, bottom = storageHeight_ - 1; top < bottom; ++top, --bottom) {
    std::uint8_t* a = back_.data() + std::size_t(top) * row;
    std::uint8_t* b = back_.data() + std::size_t(bottom) * row;
    std::memcpy(rowSwap_.data(), a, row);
    std::memcpy(a, b, row);
    std::memcpy(b, rowSwap_.data(), row);
  }
  pixels_.swap(back_);
  pixelWidth_ = storageWidth_;
  pixelHeight_ = storageHeight_;
  contentVersion_ = nextContentVersion();
  ++presentCount_;
  if (observer_) observer_();
}

void CAEAGLLayer::didPresentPrevious() {
  pixels_.swap(back_);
  contentVersion_ = nextContentVersion();
  ++presentCount_;
  if (observer_) observer_();
}

void CAEAGLLayer::didPresentUnchanged() {
  ++presentCount_;
  if (observer_) observer_();
}
