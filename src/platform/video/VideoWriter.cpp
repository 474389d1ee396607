#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/Interruption.h"
#include "platform/OutputFile.h"
#include "platform/VideoWriter.h"

extern char** environ;

namespace platform {

namespace {

// Spawns `args` with stdin from `stdinFd` (or /dev/null) and stdout/stderr to `logPath`
// (or /dev/null), with default signal handling and nothing blocked whatever this process does.
// Returns the pid or -1.
pid_t spawn(const std::vector<std::string>& args, int stdinFd, const std::string& logPath) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdinFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  const char* log = logPath.empty() ? "/dev/null" : logPath.c_str();
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log, O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigfillset(&defaults);
  sigdelset(&defaults, SIGKILL);
  sigdelset(&defaults, SIGSTOP);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// The child's exit status; a termination signal kills it (-1 then) when `interruptible`.
int waitFor(pid_t pid, bool interruptible = true) {
  int status = 0;
  bool killed = false;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
    if (interruptible && interruptionSignal() && !killed) {
      kill(pid, SIGKILL);
      killed = true;
    }
  }
  if (killed) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

void stop(pid_t pid) {
  kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// A new empty file beside `output`. Empty with `error` set when it cannot be created.
std::string temporaryBeside(const std::string& output, const std::string& role, std::string& error) {
  auto file = createTemporaryBeside(output, role);
  if (!file) {
    error = file.message();
    return {};
  }
  close(file->fd);
  return file->path;
}

// The last non-empty line of ffmpeg's log: its reason.
std::string lastLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::string last;
  while (std::getline(in, line)) {
    if (!line.empty()) last = line;
  }
  return last;
}

void removeQuietly(const std::string& path) {
  if (!path.empty()) std::remove(path.c_str());
}

// Why the encoder's `file` is not the video asked for (`frames` pictures, and a sound track when
// `withSound`), or empty. An encoder can exit 0 having written nothing, or something else.
std::string videoProblem(const std::string& file, std::size_t frames, bool withSound, const std::string& output) {
  struct stat info {};
  if (stat(file.c_str(), &info) != 0 || info.st_size == 0) return "ffmpeg wrote nothing to " + output;
  std::string error;
  const std::string listing = temporaryBeside(output, "probe", error);
  if (listing.empty()) return error;
  const int status = runProgram({"ffprobe", "-v", "error", "-count_packets", "-show_entries",
                                 "stream=codec_type,nb_read_packets", "-of", "csv=p=0", file},
                                listing);
  std::ifstream in(listing);
  std::string line;
  std::size_t pictures = 0;
  bool sound = false;
  std::string last;
  while (std::getline(in, line)) {
    if (line.rfind("video,", 0) == 0) pictures += std::strtoul(line.c_str() + 6, nullptr, 10);
    if (line.rfind("audio,", 0) == 0) sound = true;
    if (!line.empty()) last = line;
  }
  in.close();
  removeQuietly(listing);
  // ffprobe names the temporary file; the person knows the output's name.
  if (last.rfind(file + ": ", 0) == 0) last.erase(0, file.size() + 2);
  if (status < 0) return "cannot start ffprobe to check " + output + ": install the ffmpeg package";
  if (status != 0) return "ffmpeg did not write a readable video to " + output + (last.empty() ? "" : ": " + last);
  if (pictures != frames) {
    return "ffmpeg wrote " + std::to_string(pictures) + " of the " + std::to_string(frames) + " frames to " + output;
  }
  if (withSound && !sound) return "ffmpeg wrote no sound track to " + output;
  return {};
}

}  // namespace

int runProgram(const std::vector<std::string>& args, const std::string& logPath) {
  if (args.empty()) return -1;
  const pid_t pid = spawn(args, -1, logPath);
  return pid < 0 ? -1 : waitFor(pid);
}

Result<std::unique_ptr<VideoWriter>> VideoWriter::open(const std::string& outputPath, int width,
                                                       int height, int fps) {
  // Writing into a closed pipe must fail the write, not kill the app.
  signal(SIGPIPE, SIG_IGN);
  std::unique_ptr<VideoWriter> writer(new VideoWriter());
  writer->output_ = outputPath;
  writer->frameBytes_ = static_cast<std::size_t>(width) * height * 4;

  const std::filesystem::path parent = std::filesystem::absolute(outputPath).parent_path();
  if (!std::filesystem::is_directory(parent) || access(parent.c_str(), W_OK) != 0) {
    return fail("cannot write " + outputPath + ": " + parent.string() + " is not a writable folder");
  }
  std::string error;
  writer->videoOnly_ = temporaryBeside(outputPath, "video", error);
  if (writer->videoOnly_.empty()) return fail(error);
  writer->log_ = temporaryBeside(outputPath, "log", error);
  if (writer->log_.empty()) return fail(error);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    return fail(std::string("cannot create a pipe for ffmpeg: ") + std::strerror(errno));
  }
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const std::vector<std::string> args = {
      "ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
      "-f", "rawvideo", "-pix_fmt", "rgba", "-s", size, "-framerate", std::to_string(fps),
      "-i", "pipe:0",
      "-c:v", "libx264", "-preset", "veryfast", "-crf", "20", "-pix_fmt", "yuv420p",
      "-f", "mp4", writer->videoOnly_};
  writer->pid_ = spawn(args, fds[0], writer->log_);
  close(fds[0]);
  if (writer->pid_ < 0) {
    close(fds[1]);
    return fail("cannot start ffmpeg, which videos need: install the ffmpeg package");
  }
  writer->pipe_ = fds[1];
  return writer;
}

VideoWriter::~VideoWriter() {
  if (pipe_ >= 0) close(pipe_);
  // Not finished: the encoder's work is not wanted.
  if (pid_ > 0) stop(pid_);
  removeQuietly(videoOnly_);
  removeQuietly(log_);
  removeQuietly(complete_);
}

Status VideoWriter::writeFrame(const std::uint8_t* rgba) {
  if (failed_ || pipe_ < 0) return fail(error_);
  std::size_t done = 0;
  while (done < frameBytes_) {
    // A stalled encoder blocks the write until a termination signal interrupts it.
    if (interruptible_ && interruptionSignal()) {
      error_ = "interrupted";
      failed_ = true;
      return fail(error_);
    }
    const ssize_t n = write(pipe_, rgba + done, frameBytes_ - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = "the video encoder stopped taking frames";
      const std::string why = lastLine(log_);
      if (!why.empty()) error_ += ": " + why;
      failed_ = true;
      return fail(error_);
    }
    done += static_cast<std::size_t>(n);
  }
  ++frames_;
  return {};
}

Status VideoWriter::complete(const std::string& wavPath) {
  if (pipe_ >= 0) {
    close(pipe_);
    pipe_ = -1;
  }
  const int status = pid_ > 0 ? waitFor(pid_, interruptible_) : -1;
  pid_ = -1;
  if (interruptible_ && interruptionSignal()) return fail("interrupted");
  if (failed_ || status != 0 || frames_ == 0) {
    const std::string why = lastLine(log_);
    return fail(frames_ == 0 ? "no frame was rendered"
                : failed_    ? error_
                             : "ffmpeg failed to encode " + output_ + (why.empty() ? "" : ": " + why));
  }
  std::string error;
  complete_ = temporaryBeside(output_, "part", error);
  if (complete_.empty()) return fail(error);
  std::vector<std::string> args = {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",
                                   "-y", "-i", videoOnly_};
  if (!wavPath.empty()) {
    args.insert(args.end(), {"-i", wavPath, "-map", "0:v", "-map", "1:a", "-c:a", "aac",
                             "-b:a", "128k"});
  }
  args.insert(args.end(), {"-c:v", "copy", "-movflags", "+faststart", "-f", "mp4", complete_});
  const pid_t mux = spawn(args, -1, log_);
  const int muxStatus = mux < 0 ? -1 : waitFor(mux, interruptible_);
  removeQuietly(videoOnly_);
  videoOnly_.clear();
  if (muxStatus != 0) {
    const std::string why = lastLine(log_);
    return fail(interruptible_ && interruptionSignal() ? "interrupted"
                                : "ffmpeg failed to add the sound track to " + output_ +
                                      (why.empty() ? "" : ": " + why));
  }
  if (const std::string problem = videoProblem(complete_, frames_, !wavPath.empty(), output_); !problem.empty()) {
    return fail(interruptionSignal() ? "interrupted" : problem);
  }
  // The data must be on disk before the name points at it.
  const int fd = ::open(complete_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail("cannot write " + output_ + ": " + std::strerror(errno));
  makePublic(fd);
  return syncAndClose(fd, output_);
}

Status VideoWriter::commit() {
  if (complete_.empty()) return fail("the video is not complete");
  if (std::rename(complete_.c_str(), output_.c_str()) != 0) {
    return fail("cannot write " + output_ + ": " + std::strerror(errno));
  }
  complete_.clear();
  return {};
}

Status VideoWriter::finish(const std::string& wavPath) {
  if (Status done = complete(wavPath); !done) return done;
  return commit();
}

}  // namespace platform
