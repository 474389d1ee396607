// The remembered choices: what a hand-written or damaged file gives, and what saving keeps.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "AppSettings.h"
#include "TempDir.h"

namespace {

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(SettingsFile, ReadsWhatItCanAndWarnsOnceAboutTheRest) {
  struct Case {
    const char* name;
    std::string text;
    AppSettings expected;
    std::vector<std::string> warned;  // each in the one warning line; none: no warning
  };
  AppSettings bare;
  bare.analytics = false;
  bare.character = 2;
  AppSettings grouped;
  grouped.pitch = 2.5f;
  grouped.fullScreen = true;
  grouped.windowWidth = 400;
  AppSettings partly;
  partly.gain = 1.5f;
  const std::vector<Case> cases = {
      {"bare keys, spaces around =", "analytics = off\ncharacter=2\n", bare, {}},
      {"comments and the group", "# mine\n\n[quibblers]\npitch=2.5\nfullscreen=yes\nwindow-width=400\n", grouped, {}},
      {"values out of range or not numbers", "character=7\npitch=abc\ngain=1.5\nanalytics=maybe\n", partly,
       {"character = 7", "pitch = abc", "analytics = maybe"}},
      {"broken group line", "[quibblers\ncharacter=2\n", {}, {"ignoring the settings"}},
      {"not text", std::string("\xff\xfe\0\x01[", 5), {}, {"ignoring the settings"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    writeFile(dir.file("q.conf"), c.text);
    SettingsFile file(dir.file("q.conf"));
    std::string warning;
    EXPECT_EQ(file.load(warning), c.expected);
    EXPECT_EQ(warning.find('\n'), std::string::npos);
    EXPECT_EQ(warning.empty(), c.warned.empty()) << warning;
    for (const auto& w : c.warned) EXPECT_NE(warning.find(w), std::string::npos) << warning;
  }

  TempDir dir;
  std::string warning;
  EXPECT_EQ(SettingsFile(dir.file("missing.conf")).load(warning), AppSettings{});
  EXPECT_EQ(warning, "") << "a first launch has no file";
  EXPECT_EQ(SettingsFile(dir.path().string()).load(warning), AppSettings{});
  EXPECT_NE(warning.find("cannot read"), std::string::npos) << warning;
}

TEST(SettingsFile, SavesAtomicallyAndKeepsThePersonsComments) {
  TempDir dir;
  const std::string path = dir.file("config/quibblers/quibblers.conf");
  AppSettings all;
  all.character = 3;
  all.pitch = 0.62f;
  all.tempo = 1.3f;
  all.gain = 2.1f;
  all.monitoringThreshold = 20;
  all.recordingThreshold = 3020;
  all.sequenceMS = 151;
  all.seekWindowMS = 1;
  all.overlapMS = 46;
  all.windowWidth = 640;
  all.windowHeight = 960;
  all.fullScreen = false;
  all.analytics = true;
  all.hintSeen = true;
  std::string error;
  ASSERT_TRUE(SettingsFile(path).save(all, error)) << error;
  std::string warning;
  EXPECT_EQ(SettingsFile(path).load(warning), all) << warning;
  EXPECT_EQ(warning, "");
  const std::string text = readTextFile(path);
  EXPECT_NE(text.find("# "), std::string::npos) << "explained for people:\n" << text;
  EXPECT_NE(text.find("pitch=0.62\n"), std::string::npos) << text;
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.file("config/quibblers"))) ++entries;
  EXPECT_EQ(entries, 1u) << "no temporary file left beside it";

  writeFile(path, "# my own note\nanalytics = off\ncolour=blue\ncharacter=1\n");
  SettingsFile edited(path);
  AppSettings loaded = edited.load(warning);
  loaded.character = 2;
  ASSERT_TRUE(edited.save(loaded, error)) << error;
  const std::string kept = readTextFile(path);
  for (const char* line : {"# my own note", "analytics=off", "colour=blue", "character=2"}) {
    EXPECT_NE(kept.find(line), std::string::npos) << line << " in\n" << kept;
  }

  EXPECT_FALSE(SettingsFile(dir.file("config/quibblers/quibblers.conf/x")).save(all, error));
  EXPECT_NE(error.find("cannot save the settings"), std::string::npos) << error;
}
