#pragma once
// The choices the app remembers between runs, in a commented key file
// ($XDG_CONFIG_HOME/quibblers/quibblers.conf): the character, the values the tuning overlay sets,
// the window's size and full-screen state, and whether analytics may run. Every value is
// optional: one the file does not hold (or holds badly) keeps its default. The microphone's
// state is deliberately not among them.
#include <cstdint>
#include <optional>
#include <string>

struct AppSettings {
  std::optional<int> character;
  std::optional<float> pitch;
  std::optional<float> tempo;
  std::optional<float> gain;
  std::optional<int> monitoringThreshold;
  std::optional<int> recordingThreshold;
  std::optional<int> sequenceMS;
  std::optional<int> seekWindowMS;
  std::optional<int> overlapMS;
  std::optional<int> windowWidth;
  std::optional<int> windowHeight;
  std::optional<bool> fullScreen;
  std::optional<bool> analytics;
  std::optional<bool> hintSeen;  // the first-launch hint has been shown

  bool operator==(const AppSettings&) const = default;

  // The engine's tuning values as they are now (the analytics and window fields untouched).
  void captureTuning();
  // Puts the stored tuning values into the engine; the character's own voice (pitch, tempo,
  // gain) only when `voice`, since another character's stored voice does not belong to it.
  void applyTuning(bool voice) const;
};

class SettingsFile {
 public:
  explicit SettingsFile(std::string path) : path_(std::move(path)) {}
  // $XDG_CONFIG_HOME/quibblers/quibblers.conf (~/.config when the variable is unset).
  static std::string defaultPath();
  const std::string& path() const { return path_; }

  // Reads the file. A missing file gives no values and no warning; an unreadable or malformed
  // file, or values out of range, give what could be used and one line in `warning`.
  AppSettings load(std::string& warning);
  // Writes every value that is set, atomically (a temporary file renamed over the old one),
  // keeping the comments and unknown keys of a file that loaded cleanly. False with `error` set.
  bool save(const AppSettings& settings, std::string& error);

 private:
  std::string path_;
  std::string loadedText_;  // of a file that loaded, to keep its comments; empty otherwise
};
