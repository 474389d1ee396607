// The app in a real window under Xvfb with live sound from a private PulseAudio server: a drag
// across more than half the window selects the next character, and so do the keys; on a small
// screen the window fits it, full screen covers it, and a muted microphone gets no answers.
#include "WindowFixture.h"

TEST_F(WindowApp, ADragAcrossMoreThanHalfTheWindowAndTheKeysSelectCharacters) {
  ASSERT_NO_FATAL_FAILURE(launch());
  EXPECT_EQ(shownCharacter("start"), 0);

  // Drag from 90 % to 10 % of the window's width.
  const auto [x, y, w, h] = geometry();
  ASSERT_GT(w, 100);
  const int row = y + h / 2;
  ASSERT_EQ(tool({"xdotool", "mousemove", std::to_string(x + w * 9 / 10), std::to_string(row), "mousedown", "1"}), 0);
  for (int step = 1; step <= 8; ++step) {
    tool({"xdotool", "mousemove", std::to_string(x + w * (9 - step) / 10), std::to_string(row)});
    sleepSeconds(0.03);
  }
  ASSERT_EQ(tool({"xdotool", "mouseup", "1"}), 0);
  sleepSeconds(1.0);  // the camera springs over
  EXPECT_EQ(shownCharacter("after-drag"), 1) << readTextFile(dir.file("quibblers.log"));

  ASSERT_EQ(tool({"xdotool", "windowfocus", "--sync", windowId}), 0);
  ASSERT_EQ(tool({"xdotool", "key", "3"}), 0);
  sleepSeconds(1.0);
  EXPECT_EQ(shownCharacter("after-key-3"), 2);
  ASSERT_EQ(tool({"xdotool", "key", "Right"}), 0);
  sleepSeconds(1.0);
  EXPECT_EQ(shownCharacter("after-right"), 3);

  ASSERT_EQ(tool({"xdotool", "key", "q"}), 0);
  EXPECT_EQ(app->wait(15.0).value_or(-1), 0) << readTextFile(dir.file("quibblers.log"));
}

TEST_F(WindowApp, StartsOnTheCharacterGivenWithCharacter) {
  ASSERT_NO_FATAL_FAILURE(launch({"--no-analytics", "--character", "3"}));
  EXPECT_EQ(shownCharacter("start"), 3);
}

TEST_F(SmallScreen, FitsTheScreenGoesFullScreenAndAMutedMicrophoneGetsNoAnswer) {
  ASSERT_NO_FATAL_FAILURE(launch({"--fullscreen"}));
  Geometry g = geometry();
  EXPECT_EQ(g.width, 1366);
  EXPECT_EQ(g.height, 768);

  // Back from full screen: the largest 2:3 window that fits 1366 x 768.
  ASSERT_EQ(tool({"xdotool", "windowfocus", "--sync", windowId}), 0);
  ASSERT_EQ(tool({"xdotool", "key", "F11"}), 0);
  sleepSeconds(1.0);
  g = geometry();
  EXPECT_EQ(g.width, 512);
  EXPECT_EQ(g.height, 768);
  EXPECT_FALSE(microphoneOffShown("listening"));

  // The first sentence of the sample.
  const auto sample = platform::readMonoWav16(std::string(QB_SOURCE_DIR) + "/resources/samples/hello-quibblers.wav");
  ASSERT_TRUE(sample.ok()) << sample.error;
  const std::vector<std::int16_t> sentence(sample.samples.begin(), sample.samples.begin() + 44100 * 7 / 2);
  ASSERT_EQ(tone::findSegments(sentence, 400, 0.35).size(), 1u);
  ASSERT_EQ(platform::writeMonoWav16(dir.file("sentence.wav"), sentence), "");
  sleepSeconds(1.5);  // PulseAudio streams deliver their first blocks after 1.5-2 s

  ASSERT_EQ(tool({"xdotool", "key", "m"}), 0);
  sleepSeconds(0.5);
  EXPECT_TRUE(microphoneOffShown("muted"));
  EXPECT_EQ(tone::findSegments(answerTo(dir.file("sentence.wav"), "muted"), 400, 0.35).size(), 0u)
      << "no answer while the microphone is off";

  ASSERT_EQ(tool({"xdotool", "key", "m"}), 0);
  sleepSeconds(0.5);
  EXPECT_FALSE(microphoneOffShown("unmuted"));
  EXPECT_EQ(tone::findSegments(answerTo(dir.file("sentence.wav"), "unmuted"), 400, 0.35).size(), 1u)
      << "answers again once it is back on";

  ASSERT_EQ(tool({"xdotool", "key", "q"}), 0);
  EXPECT_EQ(app->wait(15.0).value_or(-1), 0) << readTextFile(dir.file("quibblers.log"));
}
