#pragma once
// Headless frames as PNG files: a numbered series DIR/frame_000000.png, frame_000001.png, ...
// (zero-padded, so they sort in time order), and single-image helpers for tests and tools.
//
//   std::string error;
//   auto frames = platform::PngFrameWriter::open(dir, 640, 960, error);  // null: error says why
//   frames->writeFrame(window->composite());
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Writes `rgba` (width × height × 4 bytes, top row first, premultiplied) as a PNG. False with
// `error` set on failure.
bool writePng(const std::string& path, const std::uint8_t* rgba, int width, int height,
              std::string& error);
// Reads a PNG into premultiplied RGBA, top row first. False with `error` set on failure.
bool readPng(const std::string& path, std::vector<std::uint8_t>& rgba, int& width, int& height,
             std::string& error);

// A numbered series of frames, as the headless outputs see it.
class FrameSeries {
 public:
  virtual ~FrameSeries() = default;
  // The next frame of the series. False (and error() says why) when it could not be written;
  // later frames still get their own numbers.
  virtual bool writeFrame(const std::uint8_t* rgba) = 0;
  virtual std::size_t framesWritten() const = 0;
  virtual const std::string& error() const = 0;
};

class PngFrameWriter : public FrameSeries {
 public:
  // Creates `dir` (and parents) when missing. Null with `error` set when it cannot.
  static std::unique_ptr<PngFrameWriter> open(const std::string& dir, int width, int height,
                                              std::string& error);
  bool writeFrame(const std::uint8_t* rgba) override;
  std::size_t framesWritten() const override { return written_; }
  std::string pathForFrame(std::size_t index) const;
  const std::string& error() const override { return error_; }

 private:
  PngFrameWriter(std::string dir, int width, int height)
      : dir_(std::move(dir)), width_(width), height_(height) {}
  std::string dir_;
  int width_;
  int height_;
  std::size_t next_ = 0;
  std::size_t written_ = 0;
  std::string error_;
};

}  // namespace platform
