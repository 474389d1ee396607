#pragma once
// Headless frames as PNG files: a numbered series DIR/frame_000000.png, frame_000001.png, ...
// (zero-padded, so they sort in time order), and single-image helpers for tests and tools.
//
//   auto frames = platform::PngFrameWriter::open(dir, 640, 960);  // a failure says why
//   if (frames) (*frames)->writeFrame(window->composite());
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Status.h"

namespace platform {

// Writes `rgba` (width × height × 4 bytes, top row first, premultiplied) as a PNG.
Status writePng(const std::string& path, const std::uint8_t* rgba, int width, int height);
// Reads a PNG into premultiplied RGBA, top row first.
Status readPng(const std::string& path, std::vector<std::uint8_t>& rgba, int& width, int& height);

// A numbered series of frames, as the headless outputs see it.
class FrameSeries {
 public:
  virtual ~FrameSeries() = default;
  // The next frame of the series, or why it could not be written; later frames still get their
  // own numbers.
  virtual Status writeFrame(const std::uint8_t* rgba) = 0;
  virtual std::size_t framesWritten() const = 0;
};

class PngFrameWriter : public FrameSeries {
 public:
  // Creates `dir` (and parents) when missing; fails when it cannot.
  static Result<std::unique_ptr<PngFrameWriter>> open(const std::string& dir, int width, int height);
  Status writeFrame(const std::uint8_t* rgba) override;
  std::size_t framesWritten() const override { return written_; }
  std::string pathForFrame(std::size_t index) const;

 private:
  PngFrameWriter(std::string dir, int width, int height)
      : dir_(std::move(dir)), width_(width), height_(height) {}
  std::string dir_;
  int width_;
  int height_;
  std::size_t next_ = 0;
  std::size_t written_ = 0;
};

}  // namespace platform
