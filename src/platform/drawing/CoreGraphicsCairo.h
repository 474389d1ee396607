#pragma once
// What the Core Graphics handles are made of, shared by the cairo back end's files.
#include <cairo.h>

#include <cstddef>
#include <cstdint>

#include "platform/CoreGraphics.h"

struct CGImage {
  cairo_surface_t* surface;  // CAIRO_FORMAT_ARGB32, premultiplied
  int width;
  int height;
};

struct CGColorSpace {
  int model;  // 0: device RGB, the only one
};

struct CGContext {
  // View contexts draw through cairo (origin top-left, y down, points).
  cairo_t* cr = nullptr;
  bool ownsCairo = false;
  // Bitmap contexts write RGBA rows into caller memory (origin bottom-left, y up).
  std::uint8_t* data = nullptr;
  std::size_t width = 0;
  std::size_t height = 0;
  std::size_t bytesPerRow = 0;
  double fill[4] = {0, 0, 0, 1};
  double stroke[4] = {0, 0, 0, 1};
  double lineWidth = 1;
};

namespace platform::cg {

// Wraps a decoded surface, converting it to ARGB32 when cairo gave another format. Takes the
// surface; null when it is in error.
CGImageRef imageFromSurface(cairo_surface_t* surface);
void releaseImage(CGImageRef image);
// A context drawing through `cr` (not owned).
CGContextRef contextForCairo(cairo_t* cr);

// Premultiplied source over for one 8-bit channel: src + dst × (255 − alpha) / 255, rounded.
inline std::uint8_t over(std::uint8_t src, std::uint8_t dst, std::uint8_t srcAlpha) {
  const unsigned t = unsigned(dst) * (255u - srcAlpha) + 128u;
  const unsigned sum = src + ((t + (t >> 8)) >> 8);
  return static_cast<std::uint8_t>(sum > 255u ? 255u : sum);  // only malformed input overflows
}

// Composites a row of cairo ARGB32 words (native endian) over a row of RGBA bytes.
void blendArgbOverRgba(const std::uint32_t* src, std::uint8_t* dst, std::size_t count);

}  // namespace platform::cg
