#include "WindowRecorder.h"

#include <glib.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "WavFile.h"
#include "platform/OutputFile.h"
#include "platform/VideoWriter.h"

namespace fs = std::filesystem;

namespace {

constexpr int kBuffers = 12;  // half a second of pictures: an encoder starved for a moment catches up
constexpr std::size_t kRingSeconds = 4;

// "2026-12-08 23.41.05.mp4", or with " (2)" when a take of that second exists.
std::string freshName(const std::string& folder) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H.%M.%S", &local);
  std::string path = folder + "/" + stamp + ".mp4";
  for (int n = 2; fs::exists(path) && n < 100; ++n) {
    path = folder + "/" + stamp + " (" + std::to_string(n) + ").mp4";
  }
  return path;
}

// A full disk makes ffmpeg stop without saying why where we can read it: say it.
std::string explained(const std::string& why, const std::string& folder) {
  struct statvfs fsInfo {};
  if (statvfs(folder.c_str(), &fsInfo) == 0 && fsInfo.f_bavail == 0 &&
      why.find(std::strerror(ENOSPC)) == std::string::npos) {
    return why + " (the disk holding " + folder + " is full)";
  }
  return why;
}

}  // namespace

struct WindowRecorder::Take {
  std::string folder;
  std::string path;
  std::string trackTemp;
  int trackFd = -1;
  std::unique_ptr<platform::VideoWriter> video;
  std::unique_ptr<platform::WavStreamWriter> track;
  Done done;

  ~Take() {
    track.reset();
    if (trackFd >= 0) close(trackFd);
    if (!trackTemp.empty()) std::remove(trackTemp.c_str());
  }
};

WindowRecorder::WindowRecorder(platform::DuplexAudioBackend& audio, int width, int height,
                               platform::RunLoop& loop)
    : audio_(audio), width_(width), height_(height), loop_(loop), ring_(44100 * kRingSeconds) {}

WindowRecorder::~WindowRecorder() {
  if (worker_.joinable() && !stopping_) stop({});
  if (worker_.joinable()) {
    waitForFile(kQuitSeconds);
    if (worker_.joinable()) worker_.detach();  // too late: the process ends without it
  }
  audio_.setSoundTap(nullptr);
}

std::string WindowRecorder::defaultFolder() {
  const char* videos = g_get_user_special_dir(G_USER_DIRECTORY_VIDEOS);
  const std::string home = g_get_home_dir();
  // Without a configured folder GLib may answer the home folder itself.
  const std::string base = videos && *videos && home != videos ? videos : home + "/Videos";
  return base + "/Quibblers";
}

bool WindowRecorder::start(const std::string& folder, double now, std::string& error) {
  if (worker_.joinable()) {
    if (!stopping_) return true;
    if (!waitForFile(kQuitSeconds)) {
      error = "the last recording is still being saved";
      return false;
    }
  }
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    error = "cannot record into " + folder + ": " + ec.message();
    return false;
  }
  auto take = std::make_shared<Take>();
  take->folder = folder;
  take->path = freshName(folder);
  auto refuse = [&error](const std::string& why) {
    error = why;
    return false;
  };
  auto video = platform::VideoWriter::open(take->path, width_, height_, kFramesPerSecond);
  if (!video) return refuse(video.message());
  take->video = std::move(*video);
  take->video->setInterruptible(false);
  auto temporary = platform::createTemporaryBeside(take->path, "track");
  if (!temporary) return refuse(temporary.message());
  take->trackFd = temporary->fd;
  take->trackTemp = temporary->path;
  auto track = platform::WavStreamWriter::open(take->trackFd, "the sound of " + take->path);
  if (!track) return refuse(track.message());
  take->track = std::move(*track);

  if (buffers_.empty()) {
    buffers_.assign(kBuffers, std::vector<std::uint8_t>(std::size_t(width_) * height_ * 4));
  }
  {
    std::lock_guard lock(mutex_);
    free_.clear();
    for (int i = 0; i < kBuffers; ++i) free_.push_back(i);
    queue_.clear();
    stopping_ = false;
    done_ = false;
    failure_.clear();
    dropped_ = 0;
    repeated_ = 0;
    written_ = 0;
  }
  startTime_ = now;
  framesSent_ = 0;
  ring_.discard();
  audio_.setSoundTap(&ring_);
  // The thread's only reference, so the take (and its temporary files) goes when encode drops it.
  worker_ = std::thread([this, take = std::move(take)]() mutable { encode(std::move(take)); });
  return true;
}

// Ticks come at the frame rate but not on the frame boundaries: a tick up to half a frame early
// still takes the next frame, and only a tick more than a frame and a half late skips any.
bool WindowRecorder::frameDue(double now) const {
  return static_cast<double>(framesSent_) <= (now - startTime_) * kFramesPerSecond + 0.5;
}

void WindowRecorder::addFrame(const std::uint8_t* rgba, double now) {
  if (!recording() || !frameDue(now)) return;
  // The frame stands for every index up to it; the encoder repeats it over any gap.
  const double due = (now - startTime_) * kFramesPerSecond;
  const std::uint64_t index = static_cast<double>(framesSent_) < due - 1.5 ? static_cast<std::uint64_t>(due) : framesSent_;
  int buffer = -1;
  {
    std::lock_guard lock(mutex_);
    if (!free_.empty()) {
      buffer = free_.back();
      free_.pop_back();
    } else {
      ++dropped_;  // the encoder is behind: this picture is skipped
    }
  }
  framesSent_ = index + 1;
  if (buffer < 0) return;
  std::memcpy(buffers_[buffer].data(), rgba, buffers_[buffer].size());
  {
    std::lock_guard lock(mutex_);
    queue_.push_back({buffer, index});
  }
  wake_.notify_one();
}

std::string WindowRecorder::failure() const {
  std::lock_guard lock(mutex_);
  return failure_;
}

std::uint64_t WindowRecorder::framesWritten() const {
  std::lock_guard lock(mutex_);
  return written_;
}

std::uint64_t WindowRecorder::framesRepeated() const {
  std::lock_guard lock(mutex_);
  return repeated_;
}

std::uint64_t WindowRecorder::framesDropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

void WindowRecorder::stop(Done done) {
  if (!worker_.joinable() || stopping_) return;
  audio_.setSoundTap(nullptr);
  std::lock_guard lock(mutex_);
  stopping_ = true;
  stopDone_ = std::move(done);
  wake_.notify_one();
}

bool WindowRecorder::waitForFile(double seconds) {
  if (!worker_.joinable()) return true;
  {
    std::unique_lock lock(mutex_);
    if (!finished_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return done_; })) {
      return false;
    }
  }
  worker_.join();
  return true;
}

void WindowRecorder::encode(std::shared_ptr<Take> take) {
  std::vector<std::int16_t> sound(44100 / 4);
  std::uint64_t written = 0;
  std::string why;
  auto drainSound = [&] {
    while (why.empty()) {
      const std::size_t n = ring_.pop(sound.data(), sound.size());
      if (n == 0) break;
      if (const platform::Status wrote = take->track->write(sound.data(), n); !wrote) why = wrote.message();
    }
  };
  for (;;) {
    Queued next{-1, 0};
    bool stopping = false;
    {
      std::unique_lock lock(mutex_);
      wake_.wait_for(lock, std::chrono::milliseconds(50), [this] { return !queue_.empty() || stopping_; });
      if (!queue_.empty()) {
        next = queue_.front();
        queue_.pop_front();
      }
      stopping = stopping_;
    }
    if (next.buffer >= 0) {
      const std::uint8_t* pixels = buffers_[next.buffer].data();
      std::uint64_t repeats = 0;
      do {
        if (const platform::Status wrote = take->video->writeFrame(pixels); !wrote) why = wrote.message();
        ++written;
        ++repeats;
      } while (why.empty() && written <= next.index);
      std::lock_guard lock(mutex_);
      repeated_ += repeats - 1;
      written_ = written;
      free_.push_back(next.buffer);
    }
    drainSound();
    if (!why.empty()) break;
    if (stopping && next.buffer < 0) break;
  }
  drainSound();

  bool saved = false;
  if (why.empty()) {
    const int fd = take->trackFd;
    take->trackFd = -1;
    if (const platform::Status closed = take->track->close(); !closed) {
      why = closed.message();
    } else if (close(fd) != 0) {
      why = "cannot write the sound of " + take->path + ": " + std::strerror(errno);
    } else if (written == 0) {
      why = "nothing was recorded";
    } else {
      platform::Status done = take->video->complete(take->trackTemp);
      if (done) done = take->video->commit();
      saved = done.ok();
      if (!saved) why = done.message();
    }
  }
  if (!saved) {
    why = explained(why, take->folder);
    std::lock_guard lock(mutex_);
    failure_ = why;
  }
  Done done;
  {
    std::lock_guard lock(mutex_);
    done = std::move(stopDone_);
  }
  const std::string result = saved ? take->path : why;
  take.reset();  // temporary files go before anyone is told
  if (done) loop_.post([done, saved, result] { done(saved, result); });
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  finished_.notify_all();
}
