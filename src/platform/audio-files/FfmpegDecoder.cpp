#include "FfmpegDecoder.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

extern char** environ;

namespace platform {

namespace {

// The first thing ffmpeg complained about; what follows is mostly its consequences.
std::string firstError(int fd, const std::string& path) {
  char text[1024];
  const ssize_t n = pread(fd, text, sizeof text, 0);
  const std::string all(text, n > 0 ? static_cast<std::size_t>(n) : 0);
  if (all.find("matches no streams") != std::string::npos) return "no sound in it";
  std::string line = all.substr(0, all.find('\n'));
  while (!line.empty() && line.back() == '\r') line.pop_back();
  // ffmpeg starts the line with the input's name, which the caller's message already holds.
  for (const std::string& prefix : {"file:" + path + ": ", path + ": "}) {
    if (line.rfind(prefix, 0) == 0) line.erase(0, prefix.size());
  }
  return line;
}

}  // namespace

std::unique_ptr<FfmpegDecoder> FfmpegDecoder::start(const std::string& path, std::string& error) {
  // "file:" keeps a name such as "concat:x" or "http:x" a file name.
  const std::vector<std::string> args = {"ffmpeg", "-nostdin", "-hide_banner", "-v", "error",
                                         "-i", "file:" + path, "-map", "0:a:0", "-vn",
                                         "-f", "au", "-c:a", "pcm_f32be", "-"};
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  std::unique_ptr<FfmpegDecoder> decoder(new FfmpegDecoder());
  decoder->path_ = path;
  int fds[2];
  decoder->errors_ = memfd_create("ffmpeg-errors", MFD_CLOEXEC);
  if (decoder->errors_ < 0 || pipe2(fds, O_CLOEXEC) != 0) {
    error = std::string("cannot start ffmpeg: ") + std::strerror(errno);
    return nullptr;
  }
  decoder->output_ = fds[0];

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, decoder->errors_, STDERR_FILENO);
  // The app blocks or catches the termination signals; ffmpeg gets the defaults, so Ctrl-C and
  // a closed pipe end it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const int rc = posix_spawnp(&decoder->pid_, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    decoder->pid_ = -1;
    error = rc == ENOENT ? "ffmpeg, which reads more formats, is not installed (install the ffmpeg package)"
                         : std::string("cannot start ffmpeg: ") + std::strerror(rc);
    return nullptr;
  }
  return decoder;
}

FfmpegDecoder::~FfmpegDecoder() {
  if (output_ >= 0) close(output_);
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    finish();
  }
  if (errors_ >= 0) close(errors_);
}

int FfmpegDecoder::takeOutput() {
  const int fd = output_;
  output_ = -1;
  return fd;
}

std::string FfmpegDecoder::finish() {
  if (pid_ <= 0) return {};
  int status = 0;
  pid_t done;
  // Waiting for a child that has closed its output or was told to stop is short.
  do {
    done = waitpid(pid_, &status, 0);
  } while (done < 0 && errno == EINTR);
  pid_ = -1;
  if (done < 0) return std::string("ffmpeg could not be waited for: ") + std::strerror(errno);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  std::string line = firstError(errors_, path_);
  if (line.empty()) {
    line = WIFSIGNALED(status) ? std::string("ffmpeg was stopped by signal ") + strsignal(WTERMSIG(status))
                               : "ffmpeg failed with status " + std::to_string(WEXITSTATUS(status));
  }
  return line;
}

}  // namespace platform
