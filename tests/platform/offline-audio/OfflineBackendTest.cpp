#include <gtest/gtest.h>

#include <numeric>

#include "OfflineAudioBackend.h"
#include "platform/AudioBackend.h"

namespace {

// The input callback copies the microphone block into `captured`; the render callback answers
// with the microphone block negated, so the output shows which input each cycle saw.
struct Loopback {
  AudioUnit unit = nullptr;
  std::vector<std::int16_t> block = std::vector<std::int16_t>(3072);
  AudioBufferList capture{1, {{1, 3072 * 2, block.data()}, {0, 0, nullptr}}};
  std::vector<double> cycleTimes;
  UInt32 lastFrames = 0;

  static OSStatus input(void* self, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* stamp,
                        UInt32, UInt32 frames, AudioBufferList*) {
    auto* me = static_cast<Loopback*>(self);
    me->cycleTimes.push_back(stamp->mHostTime);
    me->lastFrames = frames;
    return AudioUnitRender(me->unit, flags, stamp, 1, frames, &me->capture);
  }
  static OSStatus render(void* self, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                         UInt32 frames, AudioBufferList* data) {
    auto* me = static_cast<Loopback*>(self);
    auto* out = static_cast<std::int16_t*>(data->mBuffers[0].mData);
    for (UInt32 i = 0; i < frames; ++i) out[i] = static_cast<std::int16_t>(-me->block[i]);
    return 0;
  }

  explicit Loopback(platform::AudioBackend& backend) {
    backend.unitNew(&unit);
    const UInt32 one = 1;
    AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Input, 1, &one, 4);
    AudioUnitSetProperty(unit, kAudioOutputUnitProperty_EnableIO, kAudioUnitScope_Output, 0, &one, 4);
    AURenderCallbackStruct in{input, this};
    AURenderCallbackStruct out{render, this};
    AudioUnitSetProperty(unit, kAudioOutputUnitProperty_SetInputCallback, kAudioUnitScope_Global, 1, &in, sizeof in);
    AudioUnitSetProperty(unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Global, 0, &out, sizeof out);
    AudioUnitInitialize(unit);
  }
};

std::vector<std::int16_t> ramp(std::size_t n) {
  std::vector<std::int16_t> v(n);
  std::iota(v.begin(), v.end(), std::int16_t{1});
  return v;
}

}  // namespace

TEST(OfflineDevice, CyclesAreTimersOfFramesOver44100AndInterleaveWithOtherTimers) {
  platform::RunLoop loop;
  loop.useVirtualTime();
  platform::OfflineAudioBackend device(ramp(5000), 1000, loop);
  device.setTrailingCycles(2);
  Loopback app(device);
  std::vector<std::pair<char, double>> events;
  loop.addTimer(1.0 / 24, 0, [&] { events.push_back({'a', loop.now()}); });
  bool finished = false;
  device.setOnFinished([&] { finished = true; });
  AudioOutputUnitStart(app.unit);
  loop.run();

  ASSERT_TRUE(finished);
  ASSERT_EQ(app.cycleTimes.size(), 7u) << "5 cycles of input, 2 trailing";
  for (std::size_t i = 0; i < app.cycleTimes.size(); ++i) {
    EXPECT_NEAR(app.cycleTimes[i], (i + 1) * 1000 / 44100.0, 1e-9);
  }
  ASSERT_EQ(events.size(), 1u);
  EXPECT_NEAR(events[0].second, 1.0 / 24, 1e-12);
  EXPECT_EQ(app.lastFrames, 1000u);
  EXPECT_FALSE(device.unitRunning()) << "the device stops itself when it has finished";
}

TEST(OfflineDevice, AnIdleCheckEndsTheRunATailAfterTheEngineIsIdleWithinTheTrailingCycles) {
  struct Case {
    int idleAfter;  // cycles past the input's last one before the check holds; -1: never
    unsigned tail;
    unsigned expectedCycles;
  };
  // 5 cycles of input, at most 6 trailing ones.
  for (const Case c : {Case{-1, 2, 11}, Case{0, 2, 7}, Case{0, 0, 5}, Case{3, 2, 10}, Case{5, 2, 11}}) {
    platform::RunLoop loop;
    loop.useVirtualTime();
    platform::OfflineAudioBackend device(ramp(5000), 1000, loop);
    device.setTrailingCycles(6);
    Loopback app(device);
    device.setEndWhenIdle(
        [&] { return c.idleAfter >= 0 && app.cycleTimes.size() >= 5u + static_cast<unsigned>(c.idleAfter); },
        c.tail);
    AudioOutputUnitStart(app.unit);
    loop.run();
    EXPECT_TRUE(device.finished());
    EXPECT_EQ(app.cycleTimes.size(), c.expectedCycles) << "idle after " << c.idleAfter << ", tail " << c.tail;
  }
}

TEST(OfflineDevice, MicrophoneAndSpeakerSamplesAreAlignedAndPaddedWithSilence) {
  platform::RunLoop loop;
  loop.useVirtualTime();
  platform::OfflineAudioBackend device(ramp(2500), 1024, loop);
  device.setTrailingCycles(1);
  Loopback app(device);
  bool exhaustedSeen = false;
  device.setOnInputExhausted([&] {
    exhaustedSeen = true;
    EXPECT_EQ(device.microphoneFed().size(), 3u * 1024) << "reported by the cycle that used the last sample";
  });
  AudioOutputUnitStart(app.unit);
  loop.run();
  EXPECT_TRUE(exhaustedSeen);
  const auto& fed = device.microphoneFed();
  const auto& speaker = device.speakerOutput();
  ASSERT_EQ(fed.size(), 4u * 1024);
  ASSERT_EQ(speaker.size(), fed.size());
  EXPECT_EQ(fed[0], 1);
  EXPECT_EQ(fed[2499], 2500);
  EXPECT_EQ(fed[2500], 0);
  for (std::size_t i = 0; i < fed.size(); ++i) ASSERT_EQ(speaker[i], -fed[i]) << i;
}

TEST(OfflineDevice, StoppingTheUnitPausesTheCyclesAndStartingResumesThem) {
  platform::RunLoop loop;
  loop.useVirtualTime();
  platform::OfflineAudioBackend device(ramp(44100), 441, loop);
  Loopback app(device);
  AudioOutputUnitStart(app.unit);
  loop.addTimer(0.055, 0, [&] { AudioOutputUnitStop(app.unit); });
  loop.addTimer(0.5, 0, [&] { AudioOutputUnitStart(app.unit); });
  loop.runUntil([&] { return app.cycleTimes.size() >= 10; }, 10.0);
  ASSERT_GE(app.cycleTimes.size(), 10u);
  EXPECT_NEAR(app.cycleTimes[4], 0.05, 1e-9) << "five cycles of 10 ms before the stop";
  EXPECT_NEAR(app.cycleTimes[5], 0.51, 1e-9) << "the next one a period after the restart";
  EXPECT_EQ(device.microphoneFed()[5 * 441], 5 * 441 + 1) << "no input is skipped by the pause";
}

TEST(OfflineDevice, CycleLengthMustFitTheCaptureBuffer) {
  EXPECT_THROW(platform::OfflineAudioBackend(std::vector<std::int16_t>{}, 3073), std::invalid_argument);
  EXPECT_THROW(platform::OfflineAudioBackend(std::vector<std::int16_t>{}, 0), std::invalid_argument);
  EXPECT_EQ(platform::OfflineAudioBackend::defaultTrailingCycles(1024), 13u + 130u + 2u);
}

TEST(OfflineDevice, UnitRefusesFormatsOtherThanSixteenBitMono44100) {
  platform::RunLoop loop;
  platform::OfflineAudioBackend device(std::vector<std::int16_t>{}, 1024, loop);
  AudioUnit unit = nullptr;
  device.unitNew(&unit);
  AudioStreamBasicDescription stereo = kQuibblersStreamFormat;
  stereo.mChannelsPerFrame = 2;
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1,
                                 &stereo, sizeof stereo),
            kAudioUnitErr_FormatNotSupported);
  EXPECT_EQ(AudioUnitSetProperty(unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1,
                                 &kQuibblersStreamFormat, sizeof kQuibblersStreamFormat),
            0);
  EXPECT_EQ(AudioOutputUnitStart(unit), kAudioUnitErr_Uninitialized);
}
