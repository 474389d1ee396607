#pragma once
// Core Graphics stand-in over cairo: geometry in points (single precision, as on the device),
// images decoded from PNG, bitmap contexts over caller memory, and the drawing context that
// UIKit makes current while a view draws.
//
//   CGImageRef image = uiImage->CGImage();             // owned by the UIImage
//   CGContextRef bitmap = CGBitmapContextCreate(buf, w, h, 8, w * 4, CGImageGetColorSpace(image),
//                                               kCGImageAlphaPremultipliedLast);
//   CGContextDrawImage(bitmap, CGRectMake(0, 0, w, h), image);  // buf: RGBA, top row first
//   CGContextRelease(bitmap);
//
// Bitmap contexts have their origin at the bottom-left corner (y up), so an image drawn over the
// whole context lands upright: its top row in the buffer's first row. View contexts (UIKit) have
// their origin at the top-left corner with y down.
#include <cstddef>
#include <cstdint>

using CGFloat = float;

struct CGPoint {
  CGFloat x;
  CGFloat y;
};
struct CGSize {
  CGFloat width;
  CGFloat height;
};
struct CGRect {
  CGPoint origin;
  CGSize size;
};

inline CGPoint CGPointMake(CGFloat x, CGFloat y) { return CGPoint{x, y}; }
inline CGSize CGSizeMake(CGFloat w, CGFloat h) { return CGSize{w, h}; }
inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
  return CGRect{{x, y}, {w, h}};
}
inline bool operator==(CGPoint a, CGPoint b) { return a.x == b.x && a.y == b.y; }
inline bool operator==(CGSize a, CGSize b) { return a.width == b.width && a.height == b.height; }
inline bool operator==(CGRect a, CGRect b) { return a.origin == b.origin && a.size == b.size; }
// Half-open on the far edges, like the device: (x + width) is outside.
inline bool CGRectContainsPoint(CGRect r, CGPoint p) {
  return p.x >= r.origin.x && p.y >= r.origin.y && p.x < r.origin.x + r.size.width &&
         p.y < r.origin.y + r.size.height;
}

// Images: immutable decoded pixels, premultiplied. Lifetime belongs to whoever created them
// (UIImage keeps its own).
struct CGImage;
using CGImageRef = CGImage*;
std::size_t CGImageGetWidth(CGImageRef image);   // pixels; 0 for a null image
std::size_t CGImageGetHeight(CGImageRef image);  // pixels; 0 for a null image

// Only device RGB exists; the handle is process-wide and never released.
struct CGColorSpace;
using CGColorSpaceRef = CGColorSpace*;
CGColorSpaceRef CGImageGetColorSpace(CGImageRef image);
CGColorSpaceRef CGColorSpaceCreateDeviceRGB();

enum CGImageAlphaInfo : std::uint32_t {
  kCGImageAlphaNone = 0,
  kCGImageAlphaPremultipliedLast = 1,   // RGBA bytes, colour premultiplied by alpha
  kCGImageAlphaPremultipliedFirst = 2,  // ARGB bytes
  kCGImageAlphaLast = 3,
  kCGImageAlphaFirst = 4,
  kCGImageAlphaNoneSkipLast = 5,
};

struct CGContext;
using CGContextRef = CGContext*;

// A context drawing into `data` (rows of bytesPerRow, first row = top). Only 8 bits per
// component with kCGImageAlphaPremultipliedLast is supported; anything else, a null buffer or a
// row shorter than width × 4 bytes gives null.
CGContextRef CGBitmapContextCreate(void* data, std::size_t width, std::size_t height,
                                   std::size_t bitsPerComponent, std::size_t bytesPerRow,
                                   CGColorSpaceRef space, std::uint32_t bitmapInfo);
// Draws `image` scaled into `rect` (source over). A null context or image draws nothing.
void CGContextDrawImage(CGContextRef context, CGRect rect, CGImageRef image);
void CGContextRelease(CGContextRef context);

// Fill colour used by CGContextFillRect and by text drawing; components 0..1.
void CGContextSetRGBFillColor(CGContextRef context, CGFloat red, CGFloat green, CGFloat blue,
                              CGFloat alpha);
void CGContextFillRect(CGContextRef context, CGRect rect);

// Paths, for view contexts only (bitmap contexts ignore them): built with the calls below and
// consumed by FillPath/StrokePath. Angles in radians, measured as cairo does (y down).
void CGContextBeginPath(CGContextRef context);
void CGContextMoveToPoint(CGContextRef context, CGFloat x, CGFloat y);
void CGContextAddLineToPoint(CGContextRef context, CGFloat x, CGFloat y);
void CGContextAddArc(CGContextRef context, CGFloat x, CGFloat y, CGFloat radius, CGFloat startAngle,
                     CGFloat endAngle, int clockwise);
void CGContextClosePath(CGContextRef context);
void CGContextFillPath(CGContextRef context);
void CGContextSetRGBStrokeColor(CGContextRef context, CGFloat red, CGFloat green, CGFloat blue,
                                CGFloat alpha);
void CGContextSetLineWidth(CGContextRef context, CGFloat width);
void CGContextStrokePath(CGContextRef context);
void CGContextFillEllipseInRect(CGContextRef context, CGRect rect);
