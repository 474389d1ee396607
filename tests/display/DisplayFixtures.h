#pragma once
// Stand-in artwork for display tests and benchmarks: every frame is one flat colour, so a pixel
// tells which character and frame was drawn.
#include <cstdint>
#include <filesystem>
#include <string>

namespace fixtures {

struct Rgb {
  int r, g, b;
};

// The colour of character j, frame k (QB_jj_kk.png).
Rgb frameColour(int character, int frame);
// The colour of flat-view frame k (RadireZer03_k.png).
Rgb flatColour(int frame);

// A PNG of width × height: `colour` (opaque) with `margin` transparent columns on the left and
// right edges. Throws on failure.
void writeFlatPng(const std::string& path, int width, int height, Rgb colour, int margin);
// A PNG of four quadrants; the bottom-right one is drawn at `bottomRightAlpha` (0..1).
void writeQuadrantPng(const std::string& path, int width, int height, Rgb topLeft, Rgb topRight,
                      Rgb bottomLeft, Rgb bottomRight, double bottomRightAlpha);
// All 24 character frames into `dir`.
void writeCharacterFrames(const std::filesystem::path& dir, int width = 64, int height = 128,
                          int margin = 8);
// The six flat-view frames into `dir`, each width × height points at scale 1.
void writeFlatFrames(const std::filesystem::path& dir, int width, int height);

// What an RGBA pixel shows: a character frame, a flat-view frame, white, or something else.
struct Seen {
  int character = -1;  // -1: no character frame colour
  int frame = -1;
  bool white = false;
  int flatFrame = -1;
};
Seen identify(const std::uint8_t* rgba);

}  // namespace fixtures
