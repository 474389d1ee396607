#pragma once
// Layers behind views. A plain CALayer only carries the view's size, scale and opacity; the
// window draws its view with drawRect. A CAEAGLLayer is a GL drawable: its pixel size is
// bounds × contentsScale (320 × 480 points at scale 2 give 640 × 960 pixels), and it keeps the
// pixels of the last frame presented into it (RGBA, top row first, premultiplied).
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/CoreGraphics.h"

class CALayer {
 public:
  CALayer() = default;
  virtual ~CALayer() = default;
  CALayer(const CALayer&) = delete;
  CALayer& operator=(const CALayer&) = delete;

  CGRect bounds() const { return bounds_; }
  void setBounds(CGRect bounds) { bounds_ = bounds; }
  CGFloat contentsScale() const { return contentsScale_; }
  void setContentsScale(CGFloat scale) { contentsScale_ = scale; }
  bool isOpaque() const { return opaque_; }
  void setOpaque(bool opaque) { opaque_ = opaque; }

 private:
  CGRect bounds_{{0, 0}, {0, 0}};
  CGFloat contentsScale_ = 2;
  bool opaque_ = false;
};

// A fresh number for each change of drawn content (main thread): layer presents and view drawings.
std::uint64_t nextContentVersion();

// Drawable property keys and values (EAGLDrawable).
inline constexpr const char* kEAGLDrawablePropertyRetainedBacking = "EAGLDrawablePropertyRetainedBacking";
inline constexpr const char* kEAGLDrawablePropertyColorFormat = "EAGLDrawablePropertyColorFormat";
inline constexpr const char* kEAGLColorFormatRGBA8 = "EAGLColorFormatRGBA8";
inline constexpr const char* kEAGLColorFormatRGB565 = "EAGLColorFormat565";

class CAEAGLLayer : public CALayer {
 public:
  // Values are text: "0"/"1" for booleans, the format constants for the colour format.
  using DrawableProperties = std::map<std::string, std::string>;

  const DrawableProperties& drawableProperties() const { return drawableProperties_; }
  void setDrawableProperties(DrawableProperties properties) {
    drawableProperties_ = std::move(properties);
  }

  // Size of the storage a renderbuffer gets from this layer.
  int drawablePixelWidth() const;
  int drawablePixelHeight() const;

  // The last presented frame: presentedWidth() × presentedHeight() × 4 bytes (both 0 before the
  // first present at the current storage size). The storage is sized when a renderbuffer is
  // attached, so presenting does not allocate.
  const std::vector<std::uint8_t>& presentedPixels() const { return pixels_; }
  int presentedWidth() const { return pixelWidth_; }
  int presentedHeight() const { return pixelHeight_; }
  // Presents so far, repeated frames included: one per animation tick.
  std::uint64_t presentCount() const { return presentCount_; }
  // Changes whenever the presented pixels may have changed; unique across layers and views, so a
  // compositor can tell "same picture" from a version it saw before.
  std::uint64_t contentVersion() const { return contentVersion_; }

  // Called after each present, on the presenting thread (headless frame capture hooks in here).
  void setPresentObserver(std::function<void()> observer) { observer_ = std::move(observer); }

  // For the GL context: storage for a frame of this size, then the frame itself. The storage is
  // a second buffer: presenting swaps it with the shown one, so afterwards it holds the frame
  // shown before (complete once two frames were presented at this size).
  void prepareStorage(int width, int height);
  std::uint8_t* storage() { return back_.data(); }
  int storageWidth() const { return storageWidth_; }
  int storageHeight() const { return storageHeight_; }
  void didPresent();  // storage holds the new frame, rows bottom-up as GL reads them
  // For a drawer that knows the frame would be identical to one it has: a present without
  // drawing or reading back, so observers still see one present per tick. Unchanged shows the
  // last frame again; previous shows the frame the storage holds (the one shown before it).
  void didPresentUnchanged();
  void didPresentPrevious();

 private:
  DrawableProperties drawableProperties_;
  std::vector<std::uint8_t> pixels_;  // shown, top row first
  std::vector<std::uint8_t> back_;    // read back into, then turned and swapped with pixels_
  std::vector<std::uint8_t> rowSwap_;
  int pixelWidth_ = 0;
  int pixelHeight_ = 0;
  int storageWidth_ = 0;
  int storageHeight_ = 0;
  std::uint64_t presentCount_ = 0;
  std::uint64_t contentVersion_ = 0;
  std::function<void()> observer_;
};
