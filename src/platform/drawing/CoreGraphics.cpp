#include "platform/CoreGraphics.h"

#include <cmath>
#include <cstring>

#include "CoreGraphicsCairo.h"

namespace platform::cg {

CGImageRef imageFromSurface(cairo_surface_t* surface) {
  if (!surface) return nullptr;
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS ||
      cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  const int w = cairo_image_surface_get_width(surface);
  const int h = cairo_image_surface_get_height(surface);
  if (cairo_image_surface_get_format(surface) != CAIRO_FORMAT_ARGB32) {
    // Opaque and grey PNGs decode to other formats; everything downstream expects ARGB32.
    cairo_surface_t* argb = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(argb);
    cairo_set_source_surface(cr, surface, 0, 0);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    surface = argb;
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
      cairo_surface_destroy(surface);
      return nullptr;
    }
  }
  cairo_surface_flush(surface);
  return new CGImage{surface, w, h};
}

void releaseImage(CGImageRef image) {
  if (!image) return;
  cairo_surface_destroy(image->surface);
  delete image;
}

CGContextRef contextForCairo(cairo_t* cr) {
  auto* context = new CGContext;
  context->cr = cr;
  return context;
}

void blendArgbOverRgba(const std::uint32_t* src, std::uint8_t* dst, std::size_t count) {
  for (std::size_t x = 0; x < count; ++x, dst += 4) {
    const std::uint32_t p = src[x];
    const auto a = static_cast<std::uint8_t>(p >> 24);
    if (a == 0) continue;  // premultiplied: nothing to add
    const auto r = static_cast<std::uint8_t>(p >> 16);
    const auto g = static_cast<std::uint8_t>(p >> 8);
    const auto b = static_cast<std::uint8_t>(p);
    if (a == 255) {
      dst[0] = r;
      dst[1] = g;
      dst[2] = b;
      dst[3] = 255;
    } else {
      dst[0] = over(r, dst[0], a);
      dst[1] = over(g, dst[1], a);
      dst[2] = over(b, dst[2], a);
      dst[3] = over(a, dst[3], a);
    }
  }
}

}  // namespace platform::cg

namespace {

CGColorSpace deviceRGB{0};

// Runs `draw` on a cairo surface holding the bitmap context's pixels, then writes them back.
// Used for everything but the common whole-image copy.
template <typename Draw>
void drawThroughCairo(CGContextRef c, Draw draw) {
  const int w = static_cast<int>(c->width);
  const int h = static_cast<int>(c->height);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return;
  }
  auto* pixels = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* in = c->data + std::size_t(y) * c->bytesPerRow;
    auto* out = reinterpret_cast<std::uint32_t*>(pixels + std::size_t(y) * stride);
    for (int x = 0; x < w; ++x, in += 4) {
      out[x] = std::uint32_t(in[3]) << 24 | std::uint32_t(in[0]) << 16 |
               std::uint32_t(in[1]) << 8 | in[2];
    }
  }
  cairo_surface_mark_dirty(surface);
  cairo_t* cr = cairo_create(surface);
  draw(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  for (int y = 0; y < h; ++y) {
    const auto* in = reinterpret_cast<const std::uint32_t*>(pixels + std::size_t(y) * stride);
    std::uint8_t* out = c->data + std::size_t(y) * c->bytesPerRow;
    for (int x = 0; x < w; ++x, out += 4) {
      const std::uint32_t p = in[x];
      out[0] = static_cast<std::uint8_t>(p >> 16);
      out[1] = static_cast<std::uint8_t>(p >> 8);
      out[2] = static_cast<std::uint8_t>(p);
      out[3] = static_cast<std::uint8_t>(p >> 24);
    }
  }
  cairo_surface_destroy(surface);
}

// A rectangle in bitmap coordinates (y up) as a top-down cairo rectangle.
CGRect topDown(CGContextRef c, CGRect r) {
  return CGRect{{r.origin.x, static_cast<CGFloat>(c->height) - r.origin.y - r.size.height},
                r.size};
}

void paintImage(cairo_t* cr, CGRect rect, CGImageRef image) {
  if (image->width <= 0 || image->height <= 0 || rect.size.width <= 0 || rect.size.height <= 0) {
    return;
  }
  cairo_save(cr);
  cairo_translate(cr, rect.origin.x, rect.origin.y);
  cairo_scale(cr, rect.size.width / image->width, rect.size.height / image->height);
  cairo_set_source_surface(cr, image->surface, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_restore(cr);
}

}  // namespace

std::size_t CGImageGetWidth(CGImageRef image) { return image ? std::size_t(image->width) : 0; }
std::size_t CGImageGetHeight(CGImageRef image) { return image ? std::size_t(image->height) : 0; }

CGColorSpaceRef CGImageGetColorSpace(CGImageRef image) { return image ? &deviceRGB : nullptr; }
CGColorSpaceRef CGColorSpaceCreateDeviceRGB() { return &deviceRGB; }

CGContextRef CGBitmapContextCreate(void* data, std::size_t width, std::size_t height,
                                   std::size_t bitsPerComponent, std::size_t bytesPerRow,
                                   CGColorSpaceRef space, std::uint32_t bitmapInfo) {
  if (!data || bitsPerComponent != 8 || bitmapInfo != kCGImageAlphaPremultipliedLast ||
      bytesPerRow < width * 4 || width > 32767 || height > 32767) {
    return nullptr;
  }
  (void)space;  // device RGB is all there is
  auto* context = new CGContext;
  context->data = static_cast<std::uint8_t*>(data);
  context->width = width;
  context->height = height;
  context->bytesPerRow = bytesPerRow;
  return context;
}

void CGContextDrawImage(CGContextRef c, CGRect rect, CGImageRef image) {
  if (!c || !image) return;
  if (c->cr) {
    paintImage(c->cr, rect, image);
    return;
  }
  const bool wholeImage = rect.origin.x == 0 && rect.origin.y == 0 &&
                          rect.size.width == CGFloat(c->width) &&
                          rect.size.height == CGFloat(c->height) &&
                          std::size_t(image->width) == c->width &&
                          std::size_t(image->height) == c->height;
  if (wholeImage) {
    // Same size, no scaling: composite the rows straight into the caller's RGBA buffer.
    cairo_surface_flush(image->surface);
    const auto* pixels = cairo_image_surface_get_data(image->surface);
    const int stride = cairo_image_surface_get_stride(image->surface);
    for (std::size_t y = 0; y < c->height; ++y) {
      platform::cg::blendArgbOverRgba(
          reinterpret_cast<const std::uint32_t*>(pixels + y * std::size_t(stride)),
          c->data + y * c->bytesPerRow, c->width);
    }
    return;
  }
  drawThroughCairo(c, [&](cairo_t* cr) { paintImage(cr, topDown(c, rect), image); });
}

void CGContextBeginPath(CGContextRef c) {
  if (c && c->cr) cairo_new_path(c->cr);
}

void CGContextMoveToPoint(CGContextRef c, CGFloat x, CGFloat y) {
  if (c && c->cr) cairo_move_to(c->cr, x, y);
}

void CGContextAddLineToPoint(CGContextRef c, CGFloat x, CGFloat y) {
  if (c && c->cr) cairo_line_to(c->cr, x, y);
}

void CGContextAddArc(CGContextRef c, CGFloat x, CGFloat y, CGFloat radius, CGFloat startAngle,
                     CGFloat endAngle, int clockwise) {
  if (!c || !c->cr) return;
  (clockwise ? cairo_arc_negative : cairo_arc)(c->cr, x, y, radius, startAngle, endAngle);
}

void CGContextClosePath(CGContextRef c) {
  if (c && c->cr) cairo_close_path(c->cr);
}

void CGContextFillPath(CGContextRef c) {
  if (!c || !c->cr) return;
  cairo_set_source_rgba(c->cr, c->fill[0], c->fill[1], c->fill[2], c->fill[3]);
  cairo_fill(c->cr);
}

void CGContextSetRGBStrokeColor(CGContextRef c, CGFloat red, CGFloat green, CGFloat blue,
                                CGFloat alpha) {
  if (!c) return;
  c->stroke[0] = red;
  c->stroke[1] = green;
  c->stroke[2] = blue;
  c->stroke[3] = alpha;
}

void CGContextSetLineWidth(CGContextRef c, CGFloat width) {
  if (c) c->lineWidth = width;
}

void CGContextStrokePath(CGContextRef c) {
  if (!c || !c->cr) return;
  cairo_set_source_rgba(c->cr, c->stroke[0], c->stroke[1], c->stroke[2], c->stroke[3]);
  cairo_set_line_width(c->cr, c->lineWidth);
  cairo_set_line_cap(c->cr, CAIRO_LINE_CAP_ROUND);
  cairo_stroke(c->cr);
}

void CGContextFillEllipseInRect(CGContextRef c, CGRect r) {
  if (!c || !c->cr || r.size.width <= 0 || r.size.height <= 0) return;
  cairo_save(c->cr);
  cairo_new_path(c->cr);
  cairo_translate(c->cr, r.origin.x + r.size.width / 2, r.origin.y + r.size.height / 2);
  cairo_scale(c->cr, r.size.width / 2, r.size.height / 2);
  cairo_arc(c->cr, 0, 0, 1, 0, 2 * M_PI);
  cairo_restore(c->cr);
  cairo_set_source_rgba(c->cr, c->fill[0], c->fill[1], c->fill[2], c->fill[3]);
  cairo_fill(c->cr);
}

void CGContextRelease(CGContextRef c) {
  if (!c) return;
  if (c->ownsCairo) cairo_destroy(c->cr);
  delete c;
}

void CGContextSetRGBFillColor(CGContextRef c, CGFloat red, CGFloat green, CGFloat blue,
                              CGFloat alpha) {
  if (!c) return;
  c->fill[0] = red;
  c->fill[1] = green;
  c->fill[2] = blue;
  c->fill[3] = alpha;
}

void CGContextFillRect(CGContextRef c, CGRect rect) {
  if (!c) return;
  auto fill = [&](cairo_t* cr, CGRect r) {
    cairo_save(cr);
    cairo_set_source_rgba(cr, c->fill[0], c->fill[1], c->fill[2], c->fill[3]);
    cairo_rectangle(cr, r.origin.x, r.origin.y, r.size.width, r.size.height);
    cairo_fill(cr);
    cairo_restore(cr);
  };
  if (c->cr) {
    fill(c->cr, rect);
  } else {
    drawThroughCairo(c, [&](cairo_t* cr) { fill(cr, topDown(c, rect)); });
  }
}
