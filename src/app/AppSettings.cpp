#include "AppSettings.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <charconv>
#include <cmath>
#include <memory>
#include <vector>

#include "VoiceEngineState.h"

namespace {

constexpr const char* kGroup = "quibblers";

struct KeyFileFree {
  void operator()(GKeyFile* f) const { g_key_file_free(f); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileFree>;

// People writing the file by hand often leave out the group line: a file of bare keys is read
// as if it had it.
std::string withGroup(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first != std::string::npos && line[first] != '#') {
      return line[first] == '[' ? text : "[" + std::string(kGroup) + "]\n" + text;
    }
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return "[" + std::string(kGroup) + "]\n" + text;
}

std::optional<bool> parseSwitch(std::string value) {
  for (auto& c : value) c = static_cast<char>(g_ascii_tolower(c));
  if (value == "on" || value == "true" || value == "yes" || value == "1") return true;
  if (value == "off" || value == "false" || value == "no" || value == "0") return false;
  return std::nullopt;
}

std::string formatFloat(float v) {
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
  return ec == std::errc() ? std::string(text, end) : std::to_string(v);
}

struct IntKey {
  const char* key;
  std::optional<int> AppSettings::*field;
  long low, high;
  const char* comment;
};
struct FloatKey {
  const char* key;
  std::optional<float> AppSettings::*field;
  double low, high;
  const char* comment;
};
struct SwitchKey {
  const char* key;
  std::optional<bool> AppSettings::*field;
  const char* comment;
};

const IntKey kIntKeys[] = {
    {"character", &AppSettings::character, 0, 3, " The character shown at launch, 0 to 3 (--character wins)."},
    {"monitoring-threshold", &AppSettings::monitoringThreshold, 0, 65535, " Level that starts listening to speech."},
    {"recording-threshold", &AppSettings::recordingThreshold, 0, 65535, " Level below which speech counts as ended."},
    {"sequence-ms", &AppSettings::sequenceMS, 1, 151, " Time-stretch settings, read at launch."},
    {"seek-window-ms", &AppSettings::seekWindowMS, 1, 51, nullptr},
    {"overlap-ms", &AppSettings::overlapMS, 1, 46, nullptr},
    {"window-width", &AppSettings::windowWidth, 1, 32767, " The window's size in pixels."},
    {"window-height", &AppSettings::windowHeight, 1, 32767, nullptr},
};
const FloatKey kFloatKeys[] = {
    {"pitch", &AppSettings::pitch, 0.25, 4, " The voice: pitch and tempo factors (0.25 to 4) and gain."},
    {"tempo", &AppSettings::tempo, 0.25, 4, nullptr},
    {"gain", &AppSettings::gain, 0, 16, nullptr},
};
const SwitchKey kSwitchKeys[] = {
    {"fullscreen", &AppSettings::fullScreen, " Open in full screen: on or off (--fullscreen wins)."},
    {"analytics", &AppSettings::analytics, " off: no usage analytics in any run."},
    {"hint-seen", &AppSettings::hintSeen, " on once the first-launch hint has been shown."},
};

constexpr const char* kHeader =
    " Quibblers remembers its choices here. Edit freely while it is not running;\n"
    " a line it cannot read is ignored (with a warning) and the default used.";

}  // namespace

std::string SettingsFile::defaultPath() {
  // Not g_get_user_config_dir(): it keeps the first value it saw for the whole process.
  const char* config = g_getenv("XDG_CONFIG_HOME");
  std::string base = config && *config == '/' ? config : std::string(g_get_home_dir()) + "/.config";
  return base + "/quibblers/quibblers.conf";
}

AppSettings SettingsFile::load(std::string& warning) {
  warning.clear();
  loadedText_.clear();
  AppSettings settings;
  gchar* contents = nullptr;
  gsize length = 0;
  GError* error = nullptr;
  if (!g_file_get_contents(path_.c_str(), &contents, &length, &error)) {
    if (!g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT)) {
      warning = "cannot read the settings in " + path_ + " (" + error->message + "); using the defaults";
    }
    g_error_free(error);
    return settings;
  }
  const std::string text = withGroup(std::string(contents, length));
  g_free(contents);
  KeyFile file(g_key_file_new());
  if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_KEEP_COMMENTS, &error)) {
    warning = "ignoring the settings in " + path_ + " (" + error->message + "); using the defaults";
    g_error_free(error);
    return settings;
  }
  loadedText_ = text;

  std::vector<std::string> bad;
  auto value = [&](const char* key) -> std::optional<std::string> {
    gchar* v = g_key_file_get_value(file.get(), kGroup, key, nullptr);
    if (!v) return std::nullopt;
    std::string s(v);
    g_free(v);
    return s;
  };
  for (const auto& k : kIntKeys) {
    if (auto v = value(k.key)) {
      gchar* end = nullptr;
      const gint64 n = g_ascii_strtoll(v->c_str(), &end, 10);
      if (v->empty() || *end != '\0' || n < k.low || n > k.high) {
        bad.push_back(std::string(k.key) + " = " + *v);
      } else {
        settings.*k.field = static_cast<int>(n);
      }
    }
  }
  for (const auto& k : kFloatKeys) {
    if (auto v = value(k.key)) {
      gchar* end = nullptr;
      const double n = g_ascii_strtod(v->c_str(), &end);
      if (v->empty() || *end != '\0' || !std::isfinite(n) || n < k.low || n > k.high) {
        bad.push_back(std::string(k.key) + " = " + *v);
      } else {
        settings.*k.field = static_cast<float>(n);
      }
    }
  }
  for (const auto& k : kSwitchKeys) {
    if (auto v = value(k.key)) {
      if (auto on = parseSwitch(*v)) {
        settings.*k.field = *on;
      } else {
        bad.push_back(std::string(k.key) + " = " + *v);
      }
    }
  }
  if (!bad.empty()) {
    std::string list;
    for (const auto& b : bad) list += (list.empty() ? "" : ", ") + b;
    warning = "ignoring " + list + " in " + path_ + " (not a valid value); using the default";
  }
  return settings;
}

bool SettingsFile::save(const AppSettings& settings, std::string& error) {
  KeyFile file(g_key_file_new());
  const bool fresh = loadedText_.empty() ||
                     !g_key_file_load_from_data(file.get(), loadedText_.data(), loadedText_.size(),
                                                G_KEY_FILE_KEEP_COMMENTS, nullptr);
  if (fresh) {
    file.reset(g_key_file_new());
    g_key_file_set_comment(file.get(), nullptr, nullptr, kHeader, nullptr);
  }
  auto put = [&](const char* key, const std::string& v, const char* comment) {
    const bool existed = g_key_file_has_key(file.get(), kGroup, key, nullptr);
    g_key_file_set_value(file.get(), kGroup, key, v.c_str());
    if (!existed && comment) g_key_file_set_comment(file.get(), kGroup, key, comment, nullptr);
  };
  for (const auto& k : kIntKeys) {
    if (settings.*k.field) put(k.key, std::to_string(*(settings.*k.field)), k.comment);
  }
  for (const auto& k : kFloatKeys) {
    if (settings.*k.field) put(k.key, formatFloat(*(settings.*k.field)), k.comment);
  }
  for (const auto& k : kSwitchKeys) {
    if (settings.*k.field) put(k.key, *(settings.*k.field) ? "on" : "off", k.comment);
  }

  gchar* folder = g_path_get_dirname(path_.c_str());
  const int made = g_mkdir_with_parents(folder, 0700);
  g_free(folder);
  GError* failure = nullptr;
  gsize length = 0;
  gchar* text = g_key_file_to_data(file.get(), &length, nullptr);
  // g_file_set_contents writes a temporary file, syncs it and renames it over the old one.
  const bool ok = made == 0 && g_file_set_contents(path_.c_str(), text, static_cast<gssize>(length), &failure);
  if (ok) {
    loadedText_.assign(text, length);
  } else {
    error = "cannot save the settings in " + path_ + ": " + (failure ? failure->message : g_strerror(errno));
  }
  if (failure) g_error_free(failure);
  g_free(text);
  return ok;
}

void AppSettings::captureTuning() {
  pitch = quibblePitch.load();
  tempo = quibbleTimeStretch.load();
  gain = ::gain.load();
  monitoringThreshold = ::monitoringThreshold.load();
  recordingThreshold = ::recordingThreshold.load();
  sequenceMS = st_sequenceMS.load();
  seekWindowMS = st_seekWindowMS.load();
  overlapMS = st_overlapMS.load();
}

void AppSettings::applyTuning(bool voice) const {
  if (voice) {
    if (pitch) quibblePitch = *pitch;
    if (tempo) quibbleTimeStretch = *tempo;
    if (gain) ::gain = *gain;
  }
  if (monitoringThreshold) ::monitoringThreshold = static_cast<std::uint16_t>(*monitoringThreshold);
  if (recordingThreshold) ::recordingThreshold = static_cast<std::uint16_t>(*recordingThreshold);
  if (sequenceMS) st_sequenceMS = *sequenceMS;
  if (seekWindowMS) st_seekWindowMS = *seekWindowMS;
  if (overlapMS) st_overlapMS = *overlapMS;
}
