#pragma once
// UIImage, UIFont and text drawing over cairo, plus the current graphics context of UIKit.
// Images come from PNG files in the resources folder; an image file "name@2x.png" next to
// "name.png" is preferred and has scale 2 (its size in points is half its pixel size).
// Text uses cairo's toy font API with DejaVu Sans; a text drawn at (x, y) has the top of its
// font's ascent at y, so (0, 0) puts the first line flush with the top-left corner.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CoreGraphics.h"

class UIImage {
 public:
  // The resource `name` (with its extension, e.g. "QB_00_00.png"). Null when there is no such
  // resource or it is not a PNG that decodes; a file that fails to decode is logged once per
  // call. Images of a name are shared while anybody holds them.
  static std::shared_ptr<UIImage> imageNamed(const std::string& name);
  // Decodes several resources at once on worker threads, so the imageNamed calls that follow
  // find them ready. Hold the result until those calls are done. Failures are left to
  // imageNamed to report.
  static std::vector<std::shared_ptr<UIImage>> preloadImagesNamed(
      const std::vector<std::string>& names);
  // A PNG file by path; null (and a log line) when it does not decode.
  static std::shared_ptr<UIImage> imageWithContentsOfFile(const std::string& path);

  ~UIImage();
  UIImage(const UIImage&) = delete;
  UIImage& operator=(const UIImage&) = delete;

  CGImageRef CGImage() const { return image_; }
  CGSize size() const;  // points
  CGFloat scale() const { return scale_; }
  // Draws at its own size with its top-left corner at `point` in the current context.
  void drawAtPoint(CGPoint point) const;

  UIImage(CGImageRef image, CGFloat scale);  // takes ownership; use the factories

 private:
  CGImageRef image_;
  CGFloat scale_;
};

class UIFont {
 public:
  static std::shared_ptr<UIFont> systemFontOfSize(CGFloat size);
  static CGFloat systemFontSize() { return 14; }
  CGFloat pointSize() const { return size_; }
  const std::string& familyName() const { return family_; }

  UIFont(std::string family, CGFloat size) : family_(std::move(family)), size_(size) {}

 private:
  std::string family_;
  CGFloat size_;
};

// Draws one line of text with its top-left corner at `point`, in the current context's fill
// colour. Returns the size it took; nothing is drawn (zero size) without a current context.
CGSize drawAtPoint(std::string_view text, CGPoint point, const UIFont& font);
// Measures like drawAtPoint without drawing (needs no context).
CGSize sizeWithFont(std::string_view text, const UIFont& font);

// printf-style formatting into a string (the engine's "%f" lines).
[[gnu::format(printf, 1, 2)]] std::string stringWithFormat(const char* format, ...);

// The context views draw into; null outside drawing.
CGContextRef UIGraphicsGetCurrentContext();
void UIGraphicsPushContext(CGContextRef context);
void UIGraphicsPopContext();
