#include "QuibbleDebugView.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "VoiceEngineState.h"
#include "platform/UIImage.h"

namespace {

// The band formulas give whole numbers only for taps inside the screen; keep anything else from
// overflowing the conversion.
std::uint16_t truncatedToUInt16(double v) {
  const double limited = std::clamp(v, 0.0, double(std::numeric_limits<std::uint32_t>::max()));
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(limited));
}

std::int32_t truncatedToInt32(double v) {
  return static_cast<std::int32_t>(std::clamp(v, double(std::numeric_limits<std::int32_t>::min()),
                                              double(std::numeric_limits<std::int32_t>::max())));
}

double octaves(double x) { return std::pow(2.0, ((x - 160) + (x - 160)) / 160); }
double threshold(double x) { return (std::pow(2.0, x / 320) - 1) * 3000 + 20; }

double widened(float v) { return static_cast<double>(v); }
double widened(std::uint16_t v) { return static_cast<double>(static_cast<float>(v)); }
double widened(std::int32_t v) { return static_cast<double>(static_cast<float>(v)); }

}  // namespace

QuibbleDebugView::QuibbleDebugView(CGRect frame) : UIView(frame) {}

std::shared_ptr<QuibbleDebugView> QuibbleDebugView::initWithFrame(CGRect frame) {
  auto view = std::make_shared<QuibbleDebugView>(frame);
  view->value_ = 0;
  return view;
}

std::vector<QuibbleDebugView::Line> QuibbleDebugView::textLines() {
  return {
      {0, stringWithFormat("pitch: %f", widened(quibblePitch.load()))},
      {48, stringWithFormat("tempo: %f", widened(quibbleTimeStretch.load()))},
      {96, stringWithFormat("averageLevelRunning: %f", widened(averageLevelRunning.load()))},
      {120, stringWithFormat("maxRecordingLevels: %f", widened(maxRecordingLevels.load()))},
      {144, stringWithFormat("averageLevel: %f", widened(averageLevel.load()))},
      {192, stringWithFormat("monitoringThreshold: %f", widened(monitoringThreshold.load()))},
      {240, stringWithFormat("recordingThreshold: %f", widened(recordingThreshold.load()))},
      {288, stringWithFormat("gain: %f", widened(gain.load()))},
      {336, stringWithFormat("sequenceMS: %f", widened(st_sequenceMS.load()))},
      {384, stringWithFormat("seekWindowMS: %f", widened(st_seekWindowMS.load()))},
      {432, stringWithFormat("overlapMS: %f", widened(st_overlapMS.load()))},
  };
}

void QuibbleDebugView::drawRect(CGRect) {
  CGContextRef context = UIGraphicsGetCurrentContext();
  CGContextSetRGBFillColor(context, 0, 0, 0, 1);
  for (const Line& line : textLines()) {
    const auto font = UIFont::systemFontOfSize(UIFont::systemFontSize());
    drawAtPoint(line.text, CGPointMake(0, line.y), *font);
  }
}

void QuibbleDebugView::applyTap(double x, float y) {
  // A position off the number line would put a non-number into the engine.
  if (!std::isfinite(x)) return;
  if (y < 48) {
    quibblePitch = static_cast<float>(octaves(x));
  } else if (y < 96) {
    quibbleTimeStretch = static_cast<float>(octaves(x));
  } else if (y < 192) {
    // the three measured levels are read-only
  } else if (y < 240) {
    monitoringThreshold = truncatedToUInt16(threshold(x));
  } else if (y < 288) {
    recordingThreshold = truncatedToUInt16(threshold(x));
  } else if (y < 336) {
    gain = static_cast<float>(x * 4 / 320 + 0.1);
  } else if (y < 384) {
    st_sequenceMS = truncatedToInt32(x * 150 / 320 + 1);
  } else if (y < 432) {
    st_seekWindowMS = truncatedToInt32(x * 50 / 320 + 1);
  } else if (y < 480) {
    st_overlapMS = truncatedToInt32(x * 45 / 320 + 1);
  }
  // y ≥ 480, or not a number: no band
}

void QuibbleDebugView::touchesBegan(const UITouchSet& touches, const UIEvent* event) {
  const UITouch* touch = event ? event->touchesForView(this).anyObject() : touches.anyObject();
  if (!touch) return;
  const CGPoint p = touch->locationInView(this);
  applyTap(static_cast<double>(p.x), p.y);
}

void QuibbleDebugView::postValue() {
  value_ = static_cast<float>(averageLevelRunning.load());
  setNeedsDisplay();
}

void QuibbleDebugView::setValue(float) { postValue(); }
