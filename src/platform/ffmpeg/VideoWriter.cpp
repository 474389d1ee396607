#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/video.h"

extern char** environ;

namespace platform {

namespace {

// Spawns `args` with stdin from `stdinFd` (or /dev/null) and stdout/stderr to `logPath`
// (or /dev/null). Returns the pid or -1.
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
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log, O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

int waitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::string logFileFor(const std::string& output) { return output + ".ffmpeg.log"; }

}  // namespace

int runProgram(const std::vector<std::string>& args, const std::string& logPath) {
  if (args.empty()) return -1;
  const pid_t pid = spawn(args, -1, logPath);
  return pid < 0 ? -1 : waitFor(pid);
}

std::unique_ptr<VideoWriter> VideoWriter::open(const std::string& outputPath, int width,
                                               int height, int fps, std::string& error) {
  // Writing into a closed pipe must fail the write, not kill the app.
  signal(SIGPIPE, SIG_IGN);
  std::unique_ptr<VideoWriter> writer(new VideoWriter());
  writer->output_ = outputPath;
  writer->videoOnly_ = outputPath + ".video-only.mp4";
  writer->frameBytes_ = static_cast<std::size_t>(width) * height * 4;

  const std::filesystem::path parent =
      std::filesystem::absolute(outputPath).parent_path();
  if (!std::filesystem::is_directory(parent) || access(parent.c_str(), W_OK) != 0) {
    error = "cannot write " + outputPath + ": " + parent.string() + " is not a writable folder";
    return nullptr;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error = std::string("cannot create a pipe for ffmpeg: ") + std::strerror(errno);
    return nullptr;
  }
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const std::vector<std::string> args = {
      "ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
      "-f", "rawvideo", "-pix_fmt", "rgba", "-s", size, "-framerate", std::to_string(fps),
      "-i", "-",
      "-c:v", "libx264", "-preset", "veryfast", "-crf", "20", "-pix_fmt", "yuv420p",
      "-movflags", "+faststart", writer->videoOnly_};
  std::remove(logFileFor(outputPath).c_str());
  writer->pid_ = spawn(args, fds[0], logFileFor(outputPath));
  close(fds[0]);
  if (writer->pid_ < 0) {
    close(fds[1]);
    error = "cannot start ffmpeg, which --video needs: install the ffmpeg package";
    return nullptr;
  }
  writer->pipe_ = fds[1];
  return writer;
}

VideoWriter::~VideoWriter() {
  if (pipe_ >= 0) close(pipe_);
  if (pid_ > 0) waitFor(pid_);
  std::error_code ec;
  std::filesystem::remove(videoOnly_, ec);
}

bool VideoWriter::writeFrame(const std::uint8_t* rgba) {
  if (failed_ || pipe_ < 0) return false;
  std::size_t done = 0;
  while (done < frameBytes_) {
    const ssize_t n = write(pipe_, rgba + done, frameBytes_ - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  ++frames_;
  return true;
}

bool VideoWriter::finish(const std::string& wavPath, std::string& error) {
  std::error_code ec;
  if (pipe_ >= 0) {
    close(pipe_);
    pipe_ = -1;
  }
  const int status = pid_ > 0 ? waitFor(pid_) : -1;
  pid_ = -1;
  const std::string log = logFileFor(output_);
  if (failed_ || status != 0 || frames_ == 0) {
    error = frames_ == 0 ? "no frame was rendered"
                         : "ffmpeg failed to encode the video (see " + log + ")";
    std::filesystem::remove(videoOnly_, ec);
    return false;
  }
  const std::string partial = output_ + ".partial.mp4";
  std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                                   "-i", videoOnly_};
  if (!wavPath.empty()) {
    args.insert(args.end(), {"-i", wavPath, "-map", "0:v", "-map", "1:a", "-c:a", "aac",
                             "-b:a", "128k"});
  }
  args.insert(args.end(), {"-c:v", "copy", "-movflags", "+faststart", "-f", "mp4", partial});
  const int muxStatus = runProgram(args, log);
  std::filesystem::remove(videoOnly_, ec);
  if (muxStatus != 0) {
    std::filesystem::remove(partial, ec);
    error = "ffmpeg failed to add the sound track (see " + log + ")";
    return false;
  }
  std::filesystem::rename(partial, output_, ec);
  if (ec) {
    std::filesystem::remove(partial, ec);
    error = "cannot write " + output_ + ": " + ec.message();
    return false;
  }
  std::filesystem::remove(log, ec);
  return true;
}

}  // namespace platform
