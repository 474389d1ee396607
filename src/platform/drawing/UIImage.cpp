#include "platform/UIImage.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "CoreGraphicsCairo.h"
#include "platform/Log.h"
#include "platform/NSBundle.h"

namespace {

// Images by file path, shared while somebody holds them.
std::mutex cacheMutex;
std::map<std::string, std::weak_ptr<UIImage>> cache;

struct Decoded {
  CGImageRef image = nullptr;
  std::string error;
};

Decoded decodePng(const std::string& path) {
  cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
  const cairo_status_t status = cairo_surface_status(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return {nullptr, cairo_status_to_string(status)};
  }
  CGImageRef image = platform::cg::imageFromSurface(surface);
  if (!image) return {nullptr, "cannot convert the decoded pixels"};
  return {image, {}};
}

struct Resolved {
  std::string path;
  CGFloat scale = 1;
};

// "name.png" → the @2x variant when there is one (scale 2), else the file itself.
std::optional<Resolved> resolve(const std::string& name) {
  const auto& bundle = NSBundle::mainBundle();
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) {
    const std::string retina = name.substr(0, dot) + "@2x" + name.substr(dot);
    if (auto path = bundle.pathForResource(retina, "")) return Resolved{*path, 2};
  }
  if (auto path = bundle.pathForResource(name, "")) return Resolved{*path, 1};
  return std::nullopt;
}

std::shared_ptr<UIImage> cached(const std::string& path) {
  std::lock_guard lock(cacheMutex);
  auto it = cache.find(path);
  if (it == cache.end()) return nullptr;
  auto image = it->second.lock();
  if (!image) cache.erase(it);
  return image;
}

std::shared_ptr<UIImage> remember(const std::string& path, CGImageRef image, CGFloat scale) {
  auto fresh = std::make_shared<UIImage>(image, scale);
  std::lock_guard lock(cacheMutex);
  auto& slot = cache[path];
  if (auto existing = slot.lock()) return existing;  // another thread was quicker
  slot = fresh;
  return fresh;
}

thread_local std::vector<CGContextRef> contextStack;

cairo_t* currentCairo() {
  CGContextRef c = UIGraphicsGetCurrentContext();
  return c ? c->cr : nullptr;
}

void selectFont(cairo_t* cr, const UIFont& font) {
  cairo_select_font_face(cr, font.familyName().c_str(), CAIRO_FONT_SLANT_NORMAL,
                         CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, font.pointSize());
}

CGSize measure(cairo_t* cr, std::string_view text) {
  const std::string s(text);
  cairo_font_extents_t font;
  cairo_font_extents(cr, &font);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, s.c_str(), &extents);
  return CGSize{static_cast<CGFloat>(extents.x_advance),
                static_cast<CGFloat>(font.ascent + font.descent)};
}

}  // namespace

UIImage::UIImage(CGImageRef image, CGFloat scale) : image_(image), scale_(scale) {}

UIImage::~UIImage() { platform::cg::releaseImage(image_); }

std::shared_ptr<UIImage> UIImage::imageNamed(const std::string& name) {
  auto resolved = resolve(name);
  if (!resolved) return nullptr;
  if (auto image = cached(resolved->path)) return image;
  Decoded decoded = decodePng(resolved->path);
  if (!decoded.image) {
    NSLog("can't decode image %s: %s", resolved->path.c_str(), decoded.error.c_str());
    return nullptr;
  }
  return remember(resolved->path, decoded.image, resolved->scale);
}

std::vector<std::shared_ptr<UIImage>> UIImage::preloadImagesNamed(
    const std::vector<std::string>& names) {
  std::vector<std::optional<Resolved>> files(names.size());
  std::vector<std::shared_ptr<UIImage>> images(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    files[i] = resolve(names[i]);
    if (files[i]) images[i] = cached(files[i]->path);
  }
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < names.size();) {
      if (!files[i] || images[i]) continue;
      Decoded decoded = decodePng(files[i]->path);
      if (decoded.image) images[i] = remember(files[i]->path, decoded.image, files[i]->scale);
    }
  };
  const unsigned helpers =
      std::min<unsigned>(std::max(1u, std::thread::hardware_concurrency()), 4) - 1;
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < helpers && t + 1 < names.size(); ++t) threads.emplace_back(work);
  work();
  for (auto& thread : threads) thread.join();
  return images;
}

std::shared_ptr<UIImage> UIImage::imageWithContentsOfFile(const std::string& path) {
  Decoded decoded = decodePng(path);
  if (!decoded.image) {
    NSLog("can't decode image %s: %s", path.c_str(), decoded.error.c_str());
    return nullptr;
  }
  return std::make_shared<UIImage>(decoded.image, 1);
}

CGSize UIImage::size() const {
  return CGSize{static_cast<CGFloat>(CGImageGetWidth(image_)) / scale_,
                static_cast<CGFloat>(CGImageGetHeight(image_)) / scale_};
}

void UIImage::drawAtPoint(CGPoint point) const {
  CGContextRef c = UIGraphicsGetCurrentContext();
  if (!c) return;
  const CGSize s = size();
  CGContextDrawImage(c, CGRect{point, s}, image_);
}

std::shared_ptr<UIFont> UIFont::systemFontOfSize(CGFloat size) {
  return std::make_shared<UIFont>("DejaVu Sans", size);
}

CGSize drawAtPoint(std::string_view text, CGPoint point, const UIFont& font) {
  CGContextRef c = UIGraphicsGetCurrentContext();
  cairo_t* cr = currentCairo();
  if (!cr) return CGSize{0, 0};
  cairo_save(cr);
  selectFont(cr, font);
  cairo_font_extents_t extents;
  cairo_font_extents(cr, &extents);
  cairo_set_source_rgba(cr, c->fill[0], c->fill[1], c->fill[2], c->fill[3]);
  cairo_move_to(cr, point.x, point.y + extents.ascent);
  const std::string s(text);
  cairo_show_text(cr, s.c_str());
  const CGSize size = measure(cr, text);
  cairo_restore(cr);
  return size;
}

CGSize sizeWithFont(std::string_view text, const UIFont& font) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
  cairo_t* cr = cairo_create(surface);
  selectFont(cr, font);
  const CGSize size = measure(cr, text);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
  return size;
}

std::string stringWithFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (needed > 0) {
    text.resize(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, copy);
    text.resize(static_cast<std::size_t>(needed));
  }
  va_end(copy);
  return text;
}

CGContextRef UIGraphicsGetCurrentContext() {
  return contextStack.empty() ? nullptr : contextStack.back();
}

void UIGraphicsPushContext(CGContextRef context) { contextStack.push_back(context); }

void UIGraphicsPopContext() {
  if (!contextStack.empty()) contextStack.pop_back();
}
