#include <gtest/gtest.h>

#include "EngineHarness.h"
#include "ToneAnalysis.h"
#include "VoiceEngineState.h"

namespace {

// Half a second of silence, `seconds` of a 110 Hz sawtooth, then silence until the answer is over.
struct Answer {
  std::vector<std::int16_t> input;
  std::vector<std::int16_t> output;
  tone::Segment spoken{};
  tone::Segment answered{};
};

Answer answer(double seconds, UInt32 frames) {
  Answer a;
  a.input.assign(22050, 0);
  const auto voice = tone::sawtooth(110.0, seconds, 6000);
  a.input.insert(a.input.end(), voice.begin(), voice.end());
  EngineHarness engine(frames);
  a.output = engine.run(a.input, static_cast<unsigned>((seconds + 1.0) * 44100 / frames));
  a.input.resize(a.output.size(), 0);
  const auto in = tone::findSegments(a.input, 300);
  const auto out = tone::findSegments(a.output, 300);
  EXPECT_EQ(in.size(), 1u);
  EXPECT_EQ(out.size(), 1u);
  if (!in.empty()) a.spoken = in[0];
  if (!out.empty()) a.answered = out[0];
  return a;
}

}  // namespace

TEST(VoicePitch, SawtoothComesBackAnOctaveUpWithItsDuration) {
  const Answer a = answer(2.0, 1024);
  const double inPitch = tone::medianPitch(a.input, a.spoken.begin, a.spoken.end);
  const double outPitch = tone::medianPitch(a.output, a.answered.begin, a.answered.end);
  EXPECT_NEAR(inPitch, 110.0, 1.0);
  EXPECT_NEAR(outPitch / inPitch, 2.0, 0.04);
  // The first loud block starts the recording and is not part of it.
  const double expected = a.spoken.seconds() - 1024 / 44100.0;
  EXPECT_NEAR(a.answered.seconds() / expected, 1.0, 0.02);
  // Playback begins right after the twelve quiet blocks that end the recording.
  const double wait = static_cast<double>(a.answered.begin - a.spoken.end) / 44100.0;
  EXPECT_GT(wait, 11 * 1024 / 44100.0);
  EXPECT_LT(wait, 14 * 1024 / 44100.0);
  // Nothing is heard while the voice is recorded.
  EXPECT_EQ(tone::peak(a.output, 0, a.spoken.end), 0);
}

TEST(VoicePitch, PitchChangedBetweenRecordingsAppliesToTheNextOne) {
  EngineHarness engine;
  quibblePitch = 1.5f;
  std::vector<std::int16_t> input(11025, 0);
  const auto voice = tone::sawtooth(110.0, 1.0, 6000);
  input.insert(input.end(), voice.begin(), voice.end());
  const auto output = engine.run(input, 70);
  const auto out = tone::findSegments(output, 300);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_NEAR(tone::medianPitch(output, out[0].begin, out[0].end), 165.0, 3.3);
}
