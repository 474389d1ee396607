#include <gtest/gtest.h>
#include <soundtouch/SoundTouch.h>

#include <cmath>
#include <vector>

#include "SoundTouchProcessor.h"
#include "ToneAnalysis.h"
#include "VoiceEngineState.h"

namespace {

// The engine's settings, on the library's processor or on ours (same operations).
template <typename Processor>
void configure(Processor& st, float pitch, float tempo) {
  st.setSampleRate(44100);
  st.setChannels(1);
  st.setSetting(SETTING_USE_QUICKSEEK, 1);
  st.setSetting(SETTING_USE_AA_FILTER, 0);
  st.setSetting(SETTING_AA_FILTER_LENGTH, 64);
  st.setSetting(SETTING_SEQUENCE_MS, 45);
  st.setSetting(SETTING_SEEKWINDOW_MS, 26);
  st.setSetting(SETTING_OVERLAP_MS, 5);
  st.setPitch(pitch);
  st.setTempo(tempo);
  st.clear();
}

}  // namespace

TEST(SampleConversion, FloatToSampleRoundsAndSaturates) {
  EXPECT_EQ(floatToSample(0.0f), 0);
  EXPECT_EQ(floatToSample(0.5f), 16384);
  EXPECT_EQ(floatToSample(-1.0f), -32768);
  EXPECT_EQ(floatToSample(1.0f), 32767) << "+1.0 is one step past the largest sample";
  EXPECT_EQ(floatToSample(1.25f), 32767) << "never wraps to negative";
  EXPECT_EQ(floatToSample(-1.25f), -32768);
  EXPECT_EQ(floatToSample(100.0f), 32767);
  EXPECT_EQ(floatToSample(std::nanf("")), 32767) << "any valid sample will do";
  EXPECT_EQ(floatToSample(2.5f / 32768.0f), 2) << "ties to even, as the vector path";
  EXPECT_EQ(floatToSample(3.0f / 32768.0f), 3);
  EXPECT_EQ(floatToSample(-2.6f / 32768.0f), -3);
}

// The processor's own flush (which allocates at every call) and ours must yield the same
// samples for the same input, at the engine's settings and at others.
TEST(SoundTouchFlush, OursDeliversExactlyWhatTheLibrarysFlushDelivers) {
  struct Case {
    float pitch, tempo;
    unsigned blocks, blockSize;
  };
  // The last case piles up more unread output than the processor's store holds.
  for (const Case c : {Case{2.0f, 1.0f, 20, 1024}, Case{1.6f, 1.3f, 13, 1000},
                       Case{0.7f, 0.8f, 7, 512}, Case{2.0f, 1.0f, 1, 300},
                       Case{1.5f, 0.1f, 70, 1024}}) {
    SoundTouchProcessor ours;
    configure(ours, c.pitch, c.tempo);
    soundtouch::SoundTouch theirs;
    configure(theirs, c.pitch, c.tempo);

    const auto input = tone::sawtooth(140.0, c.blocks * c.blockSize / 44100.0 + 0.01, 9000);
    std::vector<std::int16_t> mine;
    std::vector<std::int16_t> reference;
    std::vector<float> scratch(c.blockSize);
    std::vector<std::int16_t> block(c.blockSize * 4);
    std::vector<float> got(c.blockSize * 4);
    for (unsigned b = 0; b < c.blocks; ++b) {
      const std::int16_t* in = input.data() + b * c.blockSize;
      ours.putSamples(in, c.blockSize);
      for (unsigned i = 0; i < c.blockSize; ++i) scratch[i] = in[i] / 32768.0f;
      theirs.putSamples(scratch.data(), c.blockSize);
      const unsigned a = ours.receiveSamples(block.data(), c.blockSize);
      mine.insert(mine.end(), block.begin(), block.begin() + a);
      const unsigned r = theirs.receiveSamples(got.data(), c.blockSize);
      for (unsigned i = 0; i < r; ++i) reference.push_back(floatToSample(got[i]));
    }
    ours.flush();
    theirs.flush();
    while (unsigned a = ours.receiveSamples(block.data(), static_cast<unsigned>(block.size()))) {
      mine.insert(mine.end(), block.begin(), block.begin() + a);
    }
    while (unsigned r = theirs.receiveSamples(got.data(), static_cast<unsigned>(got.size()))) {
      for (unsigned i = 0; i < r; ++i) reference.push_back(floatToSample(got[i]));
    }
    if (c.tempo < 0.25f) {
      ASSERT_GT(c.blocks * c.blockSize * (1 / c.tempo - 1), SoundTouchProcessor::kHeldSamples);
    }
    EXPECT_EQ(mine.size(), reference.size()) << "pitch " << c.pitch << " tempo " << c.tempo;
    EXPECT_TRUE(mine == reference) << "pitch " << c.pitch << " tempo " << c.tempo;
  }
}

// An exhausted greeting clip still gives the processor an empty put each cycle; after a voice
// change that put is what lets the library process the input it holds under the new settings.
TEST(SoundTouchPut, EmptyPutProcessesHeldInputAsTheLibrarysDoes) {
  SoundTouchProcessor ours;
  soundtouch::SoundTouch theirs;
  configure(ours, 0.25f, 4.0f);
  configure(theirs, 0.25f, 4.0f);
  const auto input = tone::sawtooth(140.0, 5 * 1024 / 44100.0 + 0.01, 9000);
  std::vector<float> scratch(input.size());
  for (std::size_t i = 0; i < input.size(); ++i) scratch[i] = input[i] / 32768.0f;
  ours.putSamples(input.data(), 5 * 1024);
  theirs.putSamples(scratch.data(), 5 * 1024);
  ours.setPitch(1.0f);
  ours.setTempo(0.25f);
  theirs.setPitch(1.0f);
  theirs.setTempo(0.25f);
  const unsigned heldBefore = ours.numUnprocessedSamples();
  ours.putSamples(input.data(), 0);
  theirs.putSamples(scratch.data(), 0);
  ASSERT_LT(theirs.numUnprocessedSamples(), heldBefore) << "the case must process on an empty put";
  EXPECT_EQ(ours.numUnprocessedSamples(), theirs.numUnprocessedSamples());
  EXPECT_EQ(ours.numSamples(), theirs.numSamples());
}

TEST(SoundTouchSetUp, AppliesTheEngineSettingsAndLeavesTheProcessorEmpty) {
  resetVoiceEngineState();
  st_sequenceMS = 40;
  st_seekWindowMS = 20;
  st_overlapMS = 8;
  setUpSoundTouch();
  EXPECT_EQ(soundTouch.getSetting(SETTING_USE_QUICKSEEK), 1);
  EXPECT_EQ(soundTouch.getSetting(SETTING_USE_AA_FILTER), 0);
  EXPECT_EQ(soundTouch.getSetting(SETTING_SEQUENCE_MS), 40);
  EXPECT_EQ(soundTouch.getSetting(SETTING_SEEKWINDOW_MS), 20);
  EXPECT_EQ(soundTouch.getSetting(SETTING_OVERLAP_MS), 8);
  EXPECT_EQ(soundTouch.numUnprocessedSamples(), 0u);
  EXPECT_EQ(soundTouch.numSamples(), 0u);
  // A later change is stored but does not reach the running processor.
  st_sequenceMS = 80;
  EXPECT_EQ(soundTouch.getSetting(SETTING_SEQUENCE_MS), 40);
  resetVoiceEngineState();
  setUpSoundTouch();
  EXPECT_EQ(soundTouch.getSetting(SETTING_SEQUENCE_MS), 45);
}

TEST(SoundTouchLevels, OvershootPastFullScaleSaturatesInsteadOfWrapping) {
  // The anti-alias filter overshoots on a full-scale square wave.
  SoundTouchProcessor ours;
  soundtouch::SoundTouch theirs;
  ours.setSampleRate(44100);
  ours.setChannels(1);
  ours.setSetting(SETTING_USE_AA_FILTER, 1);
  ours.setPitch(1.7f);
  theirs.setSampleRate(44100);
  theirs.setChannels(1);
  theirs.setSetting(SETTING_USE_AA_FILTER, 1);
  theirs.setPitch(1.7f);
  std::vector<std::int16_t> square(44100);
  std::vector<float> squareFloat(square.size());
  for (std::size_t i = 0; i < square.size(); ++i) {
    square[i] = (i / 50) % 2 ? -32768 : 32767;
    squareFloat[i] = square[i] / 32768.0f;
  }
  ours.putSamples(square.data(), static_cast<unsigned>(square.size()));
  theirs.putSamples(squareFloat.data(), static_cast<unsigned>(squareFloat.size()));
  std::vector<std::int16_t> out(60000);
  std::vector<float> reference(60000);
  const unsigned got = ours.receiveSamples(out.data(), static_cast<unsigned>(out.size()));
  ASSERT_EQ(theirs.receiveSamples(reference.data(), static_cast<unsigned>(reference.size())), got);
  ASSERT_GT(got, 30000u);
  int over = 0;
  for (unsigned i = 0; i < got; ++i) {
    if (reference[i] >= 1.0f) {
      ++over;
      EXPECT_EQ(out[i], 32767) << i;
    } else if (reference[i] < -1.0f) {
      ++over;
      EXPECT_EQ(out[i], -32768) << i;
    }
  }
  EXPECT_GT(over, 100) << "the case must actually overshoot";
}
