#include "AnswerOutputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <utility>

#include "ViewModule.h"
#include "platform/OutputFile.h"

namespace fs = std::filesystem;

namespace {

// One output as the checks see it.
struct Target {
  Target(const char* o, std::string g) : option(o), given(std::move(g)) {}
  const char* option;
  std::string given;
  fs::path resolved;  // absolute, links followed
  bool exists = false;
  struct stat info {};
};

bool isFrameName(const std::string& name) {
  static const std::regex frame("frame_[0-9]{6}\\.png");
  return std::regex_match(name, frame);
}

// The first entry of `dir` that a frames run did not write, or empty.
std::string foreignEntry(const fs::path& dir) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (!isFrameName(name) || !entry.is_regular_file(ec)) return name;
  }
  return ec ? ec.message() : std::string();
}

bool within(const fs::path& path, const fs::path& dir) {
  const auto [end, _] = std::mismatch(dir.begin(), dir.end(), path.begin(), path.end());
  return end == dir.end();
}

std::string describe(const Target& t) { return t.option + std::string(" ") + t.given; }

// Resolves and checks one output; empty, or why it is refused.
std::string check(Target& t, bool folder) {
  std::error_code ec;
  t.resolved = fs::weakly_canonical(fs::absolute(t.given), ec);
  if (ec || t.given.empty()) return "cannot write " + describe(t) + ": " + (ec ? ec.message() : "no file name");
  if (!folder && t.given.back() == '/') return "cannot write " + t.given + ": it names a folder";
  // "DIR/" names DIR.
  if (!t.resolved.has_filename() && t.resolved.has_parent_path()) t.resolved = t.resolved.parent_path();
  t.exists = stat(t.resolved.c_str(), &t.info) == 0;
  if (!t.exists && errno != ENOENT) return "cannot write " + t.given + ": " + std::strerror(errno);
  if (t.exists && folder && !S_ISDIR(t.info.st_mode)) return "cannot write frames into " + t.given + ": it is not a folder";
  if (t.exists && !folder && S_ISDIR(t.info.st_mode)) return "cannot write " + t.given + ": it is a folder";
  if (t.exists && !folder && !S_ISREG(t.info.st_mode)) return "cannot write " + t.given + ": it is not a regular file";
  const fs::path parent = t.resolved.parent_path();
  struct stat parentInfo {};
  if (stat(parent.c_str(), &parentInfo) != 0) return "cannot write " + t.given + ": " + parent.string() + ": " + std::strerror(errno);
  if (!S_ISDIR(parentInfo.st_mode)) return "cannot write " + t.given + ": " + parent.string() + " is not a folder";
  if (access(parent.c_str(), W_OK | X_OK) != 0) return "cannot write " + t.given + ": " + parent.string() + ": " + std::strerror(errno);
  return {};
}

bool sameFile(const Target& a, const Target& b) {
  if (a.resolved == b.resolved) return true;
  return a.exists && b.exists && a.info.st_dev == b.info.st_dev && a.info.st_ino == b.info.st_ino;
}

// Checks every output against the others and the input; empty, or why one is refused.
std::string checkAll(std::vector<Target>& targets, const std::string& input) {
  for (auto& t : targets) {
    if (auto why = check(t, std::string(t.option) == "--frames"); !why.empty()) return why;
  }
  Target recording{"--mic", input};
  std::error_code ec;
  recording.resolved = fs::weakly_canonical(fs::absolute(input), ec);
  recording.exists = stat(input.c_str(), &recording.info) == 0;
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const Target& t = targets[i];
    if (sameFile(t, recording)) {
      return "refusing to write " + describe(t) + ": it is the recording being answered (" + input + ")";
    }
    for (std::size_t j = i + 1; j < targets.size(); ++j) {
      if (sameFile(t, targets[j])) {
        return std::string(t.option) + " and " + targets[j].option + " name the same file (" + t.given +
               "); give each output its own";
      }
    }
    if (std::string(t.option) == "--frames") {
      if (within(recording.resolved, t.resolved)) {
        return "refusing to write frames into " + t.given + ": it holds the recording being answered";
      }
      for (const auto& other : targets) {
        if (&other != &t && within(other.resolved, t.resolved)) {
          return "cannot write " + describe(other) + " inside the frames folder " + t.given;
        }
      }
      if (const std::string foreign = t.exists ? foreignEntry(t.resolved) : ""; !foreign.empty()) {
        return "cannot write frames into " + t.given + ": it holds " + foreign +
               ", which is not a frame; give a new or empty folder, or one of earlier frames";
      }
    }
  }
  return {};
}

// Replaces the folder `final` (missing, empty or earlier frames) with `fresh`. Empty or why not.
std::string replaceFolder(const fs::path& fresh, const fs::path& final) {
  std::error_code ec;
  if (!fs::exists(final, ec)) {
    if (std::rename(fresh.c_str(), final.c_str()) != 0) return std::strerror(errno);
    return {};
  }
  if (const std::string foreign = foreignEntry(final); !foreign.empty()) {
    return "it now holds " + foreign + ", which is not a frame";
  }
  // Swap the two in one step, so the folder always holds a whole series; then drop the old one.
  if (renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, final.c_str(), RENAME_EXCHANGE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return std::strerror(errno);
    // The filesystem cannot swap: move the old folder aside first.
    const fs::path aside = fs::path(fresh).concat(".old");
    if (std::rename(final.c_str(), aside.c_str()) != 0) return std::strerror(errno);
    if (std::rename(fresh.c_str(), final.c_str()) != 0) {
      const std::string why = std::strerror(errno);
      std::rename(aside.c_str(), final.c_str());
      return why;
    }
    fs::remove_all(aside, ec);
    return {};
  }
  fs::remove_all(fresh, ec);  // now the old frames
  return {};
}

void removeTemporary(std::string& path) {
  if (path.empty()) return;
  std::error_code ec;
  fs::remove_all(path, ec);
  path.clear();
}

}  // namespace

void mixForBystander(const std::int16_t* microphone, const std::int16_t* speaker,
                     std::size_t count, std::int16_t* mix) {
  for (std::size_t i = 0; i < count; ++i) {
    mix[i] = static_cast<std::int16_t>(std::clamp(microphone[i] + speaker[i], -32768, 32767));
  }
}

std::unique_ptr<AnswerOutputs> AnswerOutputs::open(const AnswerOutputPaths& paths,
                                                   const std::string& input, int width,
                                                   int height, std::string& error) {
  std::vector<Target> targets;
  if (paths.speaker) targets.push_back({"--speaker", *paths.speaker});
  if (paths.video) targets.push_back({"--video", *paths.video});
  if (paths.framesDir) targets.push_back({"--frames", *paths.framesDir});
  if (paths.frameLog) targets.push_back({"--frame-log", *paths.frameLog});
  error = checkAll(targets, input);
  if (!error.empty()) return nullptr;

  std::unique_ptr<AnswerOutputs> out(new AnswerOutputs());
  out->given_ = paths;
  auto refuse = [&error](const std::string& why) -> std::unique_ptr<AnswerOutputs> {
    error = why;
    return nullptr;
  };
  auto resolved = [&](const char* option) {
    return std::find_if(targets.begin(), targets.end(),
                        [&](const Target& t) { return std::string(t.option) == option; })
        ->resolved.string();
  };
  if (paths.speaker) {
    out->paths_.speaker = resolved("--speaker");
    auto temporary = platform::createTemporaryBeside(*out->paths_.speaker, "part");
    if (!temporary) return refuse(temporary.message());
    out->speakerTemp_ = std::move(*temporary);
    auto speaker = platform::WavStreamWriter::open(out->speakerTemp_.fd, *paths.speaker);
    if (!speaker) return refuse(speaker.message());
    out->speaker_ = std::move(*speaker);
  }
  if (paths.video) {
    out->paths_.video = resolved("--video");
    auto video = platform::VideoWriter::open(*out->paths_.video, width, height, 24);
    if (!video) return refuse(video.message());
    out->video_ = std::move(*video);
    // The sound track goes through a temporary WAV beside the video.
    auto temporary = platform::createTemporaryBeside(*out->paths_.video, "track");
    if (!temporary) return refuse(temporary.message());
    out->trackTemp_ = std::move(*temporary);
    auto track = platform::WavStreamWriter::open(out->trackTemp_.fd, "the sound track of " + *paths.video);
    if (!track) return refuse(track.message());
    out->track_ = std::move(*track);
  }
  if (paths.framesDir) {
    out->paths_.framesDir = resolved("--frames");
    const fs::path final(*out->paths_.framesDir);
    std::string pattern = (final.parent_path() / ("." + final.filename().string() + ".frames-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) {
      error = "cannot write frames into " + *paths.framesDir + ": " + std::strerror(errno);
      return nullptr;
    }
    out->framesTemp_ = pattern;
    const int fd = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      platform::makePublic(fd, true);
      close(fd);
    }
    out->pngs_ = openPngFrames(pattern, width, height, error);
    if (!out->pngs_) return nullptr;
  }
  if (paths.frameLog) {
    out->paths_.frameLog = resolved("--frame-log");
    auto temporary = platform::createTemporaryBeside(*out->paths_.frameLog, "part");
    if (!temporary) return refuse(temporary.message());
    const int fd = temporary->fd;
    out->logTemp_ = temporary->path;
    out->log_ = fdopen(fd, "w");
    if (!out->log_) {
      close(fd);
      error = "cannot write " + *paths.frameLog + ": " + std::strerror(errno);
      return nullptr;
    }
    std::fputs("tick,time,mode,mouth_frame,character\n", out->log_);
  }
  return out;
}

AnswerOutputs::~AnswerOutputs() {
  speaker_.reset();
  track_.reset();
  video_.reset();
  if (speakerTemp_.fd >= 0) close(speakerTemp_.fd);
  if (trackTemp_.fd >= 0) close(trackTemp_.fd);
  if (log_) std::fclose(log_);
  removeTemporary(speakerTemp_.path);
  removeTemporary(trackTemp_.path);
  removeTemporary(logTemp_);
  removeTemporary(framesTemp_);
}

void AnswerOutputs::fail(const std::string& why) {
  if (error_.empty()) error_ = why;
}

void AnswerOutputs::fail(const platform::Status& status) {
  if (!status) fail(status.message());
}

void AnswerOutputs::addFrame(const std::uint8_t* rgba, double time, int mode, int mouthFrame,
                             int character) {
  if (pngs_ && error_.empty()) {
    if (const platform::Status wrote = pngs_->writeFrame(rgba); !wrote) {
      // Name the folder the person gave, not the temporary one.
      std::string why = wrote.message();
      if (const auto at = why.find(framesTemp_ + "/"); at != std::string::npos) {
        why.replace(at, framesTemp_.size() + 1, given_.framesDir->empty() ? "" : *given_.framesDir + "/");
      }
      fail(why);
    }
  }
  if (video_ && error_.empty()) fail(video_->writeFrame(rgba));
  if (log_ && error_.empty() &&
      std::fprintf(log_, "%zu,%.6f,%d,%d,%d\n", frames_, time, mode, mouthFrame, character) < 0) {
    fail("cannot write " + *given_.frameLog + ": " + std::strerror(errno));
  }
  ++frames_;
}

void AnswerOutputs::addAudio(const std::int16_t* microphone, const std::int16_t* speaker,
                             std::size_t count) {
  if (!error_.empty()) return;
  if (speaker_) fail(speaker_->write(speaker, count));
  if (track_) {
    mix_.resize(count);
    mixForBystander(microphone, speaker, count, mix_.data());
    fail(track_->write(mix_.data(), count));
  }
}

bool AnswerOutputs::finish(std::string& error) {
  // Complete everything in the temporary files first...
  if (error_.empty() && speaker_) {
    fail(speaker_->close());
    const int fd = std::exchange(speakerTemp_.fd, -1);
    platform::makePublic(fd);
    fail(platform::syncAndClose(fd, *given_.speaker));
  }
  if (error_.empty() && log_) {
    platform::makePublic(fileno(log_));
    if (std::fflush(log_) != 0) fail("cannot write " + *given_.frameLog + ": " + std::strerror(errno));
    const int fd = dup(fileno(log_));
    std::fclose(log_);
    log_ = nullptr;
    if (error_.empty()) fail(platform::syncAndClose(fd, *given_.frameLog));
  }
  if (error_.empty() && video_) {
    fail(track_->close());
    const int fd = std::exchange(trackTemp_.fd, -1);
    if (close(fd) != 0) fail("cannot write the sound track of " + *given_.video + ": " + std::strerror(errno));
    if (error_.empty()) fail(video_->complete(trackTemp_.path));
  }
  if (error_.empty() && pngs_ && pngs_->framesWritten() == 0) fail("no frame was rendered");

  // ...then put them all in place.
  auto place = [this](std::string& temporary, const std::string& final) {
    if (!error_.empty()) return;
    if (std::rename(temporary.c_str(), final.c_str()) != 0) {
      fail("cannot write " + final + ": " + std::strerror(errno));
    } else {
      temporary.clear();
    }
  };
  if (paths_.speaker) place(speakerTemp_.path, *paths_.speaker);
  if (paths_.frameLog) place(logTemp_, *paths_.frameLog);
  if (error_.empty() && video_) fail(video_->commit());
  if (error_.empty() && pngs_) {
    if (const std::string why = replaceFolder(framesTemp_, *paths_.framesDir); !why.empty()) {
      fail("cannot write frames into " + *given_.framesDir + ": " + why);
    } else {
      framesTemp_.clear();
    }
  }
  error = error_;
  return error_.empty();
}
