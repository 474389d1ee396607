#include "platform/PngFrames.h"

#include <cairo.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "CoreGraphicsCairo.h"

namespace platform {

namespace {
struct PngStream {
  std::FILE* file;
  int error;
};

cairo_status_t writeToStream(void* closure, const unsigned char* data, unsigned int length) {
  auto* stream = static_cast<PngStream*>(closure);
  if (std::fwrite(data, 1, length, stream->file) != length) {
    stream->error = errno ? errno : EIO;
    return CAIRO_STATUS_WRITE_ERROR;
  }
  return CAIRO_STATUS_SUCCESS;
}
}  // namespace

Status writePng(const std::string& path, const std::uint8_t* rgba, int width, int height) {
  if (!rgba || width <= 0 || height <= 0) return fail("no pixels to write");
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    Status failed = fail(cairo_status_to_string(cairo_surface_status(surface)));
    cairo_surface_destroy(surface);
    return failed;
  }
  auto* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* in = rgba + std::size_t(y) * std::size_t(width) * 4;
    auto* out = reinterpret_cast<std::uint32_t*>(data + std::size_t(y) * std::size_t(stride));
    for (int x = 0; x < width; ++x, in += 4) {
      out[x] = std::uint32_t(in[3]) << 24 | std::uint32_t(in[0]) << 16 |
               std::uint32_t(in[1]) << 8 | in[2];
    }
  }
  cairo_surface_mark_dirty(surface);
  // Through our own stream, so a failed write reports the system's reason (a full disk), not
  // cairo's generic "error while writing to output stream".
  PngStream stream{std::fopen(path.c_str(), "wb"), 0};
  if (!stream.file) {
    Status failed = fail("cannot write " + path + ": " + std::strerror(errno));
    cairo_surface_destroy(surface);
    return failed;
  }
  const cairo_status_t status = cairo_surface_write_to_png_stream(surface, writeToStream, &stream);
  cairo_surface_destroy(surface);
  if (std::fclose(stream.file) != 0 && stream.error == 0) stream.error = errno;
  if (stream.error != 0) return fail("cannot write " + path + ": " + std::strerror(stream.error));
  if (status != CAIRO_STATUS_SUCCESS) return fail("cannot write " + path + ": " + cairo_status_to_string(status));
  return {};
}

Status readPng(const std::string& path, std::vector<std::uint8_t>& rgba, int& width, int& height) {
  cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(png) != CAIRO_STATUS_SUCCESS) {
    Status failed = fail(path + ": " + cairo_status_to_string(cairo_surface_status(png)));
    cairo_surface_destroy(png);
    return failed;
  }
  // The image decoder's normalisation to premultiplied ARGB32 (it takes the surface).
  CGImageRef image = cg::imageFromSurface(png);
  if (!image) return fail(path + ": cannot convert the decoded image");
  width = image->width;
  height = image->height;
  cairo_surface_t* argb = image->surface;
  const auto* data = cairo_image_surface_get_data(argb);
  const int stride = cairo_image_surface_get_stride(argb);
  rgba.resize(std::size_t(width) * std::size_t(height) * 4);
  for (int y = 0; y < height; ++y) {
    const auto* in = reinterpret_cast<const std::uint32_t*>(data + std::size_t(y) * stride);
    std::uint8_t* out = rgba.data() + std::size_t(y) * std::size_t(width) * 4;
    for (int x = 0; x < width; ++x, out += 4) {
      out[0] = static_cast<std::uint8_t>(in[x] >> 16);
      out[1] = static_cast<std::uint8_t>(in[x] >> 8);
      out[2] = static_cast<std::uint8_t>(in[x]);
      out[3] = static_cast<std::uint8_t>(in[x] >> 24);
    }
  }
  cg::releaseImage(image);
  return {};
}

Result<std::unique_ptr<PngFrameWriter>> PngFrameWriter::open(const std::string& dir, int width,
                                                             int height) {
  if (width <= 0 || height <= 0) return fail("frame size must be positive");
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir)) {
    return fail("cannot create frame directory " + dir + (ec ? ": " + ec.message() : ""));
  }
  return std::unique_ptr<PngFrameWriter>(new PngFrameWriter(dir, width, height));
}

std::string PngFrameWriter::pathForFrame(std::size_t index) const {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%06zu.png", index);
  return (std::filesystem::path(dir_) / name).string();
}

Status PngFrameWriter::writeFrame(const std::uint8_t* rgba) {
  const std::string path = pathForFrame(next_++);
  Status wrote = writePng(path, rgba, width_, height_);
  if (wrote) ++written_;
  return wrote;
}

}  // namespace platform
