#include "DisplayFixtures.h"

#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace fixtures {

Rgb frameColour(int character, int frame) { return Rgb{30 + 60 * character, 30 + 40 * frame, 128}; }

Rgb flatColour(int frame) { return Rgb{240, 30 + 40 * frame, 20}; }

void writeFlatPng(const std::string& path, int width, int height, Rgb colour, int margin) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, colour.r / 255.0, colour.g / 255.0, colour.b / 255.0);
  cairo_rectangle(cr, margin, 0, width - 2 * margin, height);
  cairo_fill(cr);
  cairo_destroy(cr);
  const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) throw std::runtime_error("cannot write " + path);
}

void writeQuadrantPng(const std::string& path, int width, int height, Rgb topLeft, Rgb topRight,
                      Rgb bottomLeft, Rgb bottomRight, double bottomRightAlpha) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(surface);
  const double w = width / 2.0;
  const double h = height / 2.0;
  auto quadrant = [&](double x, double y, Rgb c, double alpha) {
    cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, alpha);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
  };
  quadrant(0, 0, topLeft, 1);
  quadrant(w, 0, topRight, 1);
  quadrant(0, h, bottomLeft, 1);
  quadrant(w, h, bottomRight, bottomRightAlpha);
  cairo_destroy(cr);
  const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) throw std::runtime_error("cannot write " + path);
}

void writeCharacterFrames(const std::filesystem::path& dir, int width, int height, int margin) {
  for (int j = 0; j < 4; ++j) {
    for (int k = 0; k < 6; ++k) {
      char name[32];
      std::snprintf(name, sizeof name, "QB_%02d_%02d.png", j, k);
      writeFlatPng((dir / name).string(), width, height, frameColour(j, k), margin);
    }
  }
}

void writeFlatFrames(const std::filesystem::path& dir, int width, int height) {
  for (int k = 0; k < 6; ++k) {
    const std::string name = "RadireZer03_" + std::to_string(k) + ".png";
    writeFlatPng((dir / name).string(), width, height, flatColour(k), 0);
  }
}

Seen identify(const std::uint8_t* p) {
  Seen seen;
  auto near = [](int a, int b) { return std::abs(a - b) <= 2; };
  if (p[0] >= 253 && p[1] >= 253 && p[2] >= 253) {
    seen.white = true;
    return seen;
  }
  for (int j = 0; j < 4; ++j) {
    for (int k = 0; k < 6; ++k) {
      const Rgb c = frameColour(j, k);
      if (near(p[0], c.r) && near(p[1], c.g) && near(p[2], c.b)) {
        seen.character = j;
        seen.frame = k;
        return seen;
      }
    }
  }
  for (int k = 0; k < 6; ++k) {
    const Rgb c = flatColour(k);
    if (near(p[0], c.r) && near(p[1], c.g) && near(p[2], c.b)) seen.flatFrame = k;
  }
  return seen;
}

}  // namespace fixtures
