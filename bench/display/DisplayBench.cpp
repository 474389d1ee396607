// One drawn animation tick of the character view at 640 × 960 including the readback into the layer,
// the same tick composited with the live tuning overlay, and the start-up of the view (context, framebuffer, decoding and uploading 24 textures of
// 512 × 1024). Uses the bundled artwork when it is there, else generated images of that size
// with gradients and soft edges, so decoding does real work.
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "EAGLView.h"
#include "QuibbleDebugView.h"
#include "VoiceEngineState.h"
#include "platform/NSBundle.h"
#include "platform/UIWindow.h"

namespace {

void writeGeneratedFrame(const std::string& path, int character, int frame) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 512, 1024);
  cairo_t* cr = cairo_create(surface);
  cairo_pattern_t* body = cairo_pattern_create_radial(220, 560, 40, 256, 640, 300);
  cairo_pattern_add_color_stop_rgba(body, 0, 0.95, 0.75 - 0.1 * character, 0.45, 1);
  cairo_pattern_add_color_stop_rgba(body, 1, 0.55, 0.30, 0.10 + 0.1 * character, 1);
  cairo_set_source(cr, body);
  cairo_save(cr);
  cairo_translate(cr, 256, 680);
  cairo_scale(cr, 220, 260);
  cairo_arc(cr, 0, 0, 1, 0, 6.2832);
  cairo_restore(cr);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0.2, 0.1, 0.05);
  cairo_set_line_width(cr, 6);
  cairo_stroke(cr);
  for (int eye = 0; eye < 2; ++eye) {
    cairo_arc(cr, 190 + 132 * eye, 560, 22, 0, 6.2832);
    cairo_set_source_rgb(cr, 0.05, 0.05, 0.05);
    cairo_fill(cr);
  }
  cairo_save(cr);
  cairo_translate(cr, 256, 680);
  cairo_scale(cr, 50, 4 + 12 * frame);
  cairo_arc(cr, 0, 0, 1, 0, 6.2832);
  cairo_restore(cr);
  cairo_set_source_rgb(cr, 0.5, 0.1, 0.15);
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_surface_write_to_png(surface, path.c_str());
  cairo_surface_destroy(surface);
}

// Points the bundle at artwork: the real images when present, else generated ones.
const char* useArtwork() {
  static const char* kind = [] {
    if (NSBundle::mainBundle().pathForResource("QB_00_00", "png")) return "bundled artwork";
    static const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "quibblers-bench-artwork";
    std::filesystem::create_directories(dir);
    for (int j = 0; j < 4; ++j) {
      for (int k = 0; k < 6; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "QB_%02d_%02d.png", j, k);
        if (!std::filesystem::exists(dir / name)) writeGeneratedFrame((dir / name).string(), j, k);
      }
    }
    NSBundle::mainBundle().setResourcePath(dir.string());
    return "generated 512x1024 artwork";
  }();
  return kind;
}

// The busiest tick: speaking (level update), a drag in progress (two quads), camera moving. The
// finger moves every tick, so every tick draws (a tick whose picture is unchanged does not).
void BM_DrawViewTick(benchmark::State& state) {
  state.SetLabel(useArtwork());
  auto view = EAGLView::initWithCoder(NSCoder{});
  if (!view) {
    state.SkipWithError(EAGLContext::lastError());
    return;
  }
  programMode = kModePlaying;
  maxRecordingLevels = 1000;
  UITouch finger(view.get(), CGPoint{250, 240}, UITouchPhaseBegan);
  view->touchesBegan(UITouchSet({&finger}), nullptr);
  finger.update(CGPoint{120, 240}, UITouchPhaseMoved);
  view->touchesMoved(UITouchSet({&finger}), nullptr);
  std::uint16_t level = 0;
  float x = 120;
  for (auto _ : state) {
    averageLevel = level;
    level = static_cast<std::uint16_t>((level + 97) % 1100);
    x = x == 120 ? 150 : 120;
    finger.update(CGPoint{x, 240}, UITouchPhaseMoved);
    view->touchesMoved(UITouchSet({&finger}), nullptr);
    view->drawView();
    benchmark::DoNotOptimize(view->eaglLayer().presentedPixels().data());
  }
  resetVoiceEngineState();
}
BENCHMARK(BM_DrawViewTick)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A headless frame with the tuning overlay live: tick, redraw the text, composite 640 × 960.
void BM_WindowFrameWithOverlay(benchmark::State& state) {
  state.SetLabel(useArtwork());
  auto view = EAGLView::initWithCoder(NSCoder{});
  if (!view) {
    state.SkipWithError(EAGLContext::lastError());
    return;
  }
  auto overlay = QuibbleDebugView::initWithFrame(CGRectMake(0, 0, 320, 480));
  UIWindow window;
  window.addSubview(view);
  window.addSubview(overlay);
  programMode = kModeListening;
  for (auto _ : state) {
    averageLevelRunning = static_cast<std::uint16_t>(averageLevelRunning + 1);
    view->drawView();
    overlay->postValue();
    benchmark::DoNotOptimize(window.composite());
  }
  resetVoiceEngineState();
}
BENCHMARK(BM_WindowFrameWithOverlay)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_ViewStartUp(benchmark::State& state) {
  state.SetLabel(useArtwork());
  for (auto _ : state) {
    auto view = EAGLView::initWithCoder(NSCoder{});
    if (!view) {
      state.SkipWithError(EAGLContext::lastError());
      return;
    }
    benchmark::DoNotOptimize(view->spriteTexture(3, 5));
  }
}
BENCHMARK(BM_ViewStartUp)->Unit(benchmark::kMillisecond)->Iterations(8);

}  // namespace

BENCHMARK_MAIN();
