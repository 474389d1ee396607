// What a headless answer leaves on disk when things go wrong: refused output paths, a full disk,
// termination signals, a stalled encoder, a closed stdout. Whatever happens, an earlier file is
// never destroyed and no partial or temporary file is left.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "ChildProcess.h"
#include "StoreQuery.h"
#include "TempDir.h"
#include "WavFile.h"
#include "platform/VideoWriter.h"

namespace fs = std::filesystem;

namespace {

const std::string kSample = std::string(QB_SOURCE_DIR) + "/resources/samples/hello-quibblers.wav";

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// Every entry under `dir` (hidden ones too) with its content; links as their target.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
  std::map<std::string, std::string> entries;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string name = fs::relative(e.path(), dir).string();
    if (e.is_symlink()) entries[name] = "-> " + fs::read_symlink(e.path()).string();
    else if (e.is_directory()) entries[name] = "(folder)";
    else if (e.is_regular_file()) entries[name] = readTextFile(e.path().string());
    else entries[name] = "(special)";
  }
  return entries;
}

int lineCount(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

class AnswerOutputs : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto sample = platform::readMonoWav16(kSample);
    ASSERT_TRUE(sample.ok()) << sample.error;
    std::vector<std::int16_t> head(sample.samples.begin(), sample.samples.begin() + 44100 * 4);
    ASSERT_EQ(platform::writeMonoWav16(work.file("mic.wav"), head), "");
  }

  // The sample repeated for `seconds`, as `name` in the work folder.
  std::string recording(const std::string& name, std::size_t seconds) {
    const auto sample = platform::readMonoWav16(kSample);
    std::vector<std::int16_t> samples;
    while (samples.size() < 44100 * seconds) samples.insert(samples.end(), sample.samples.begin(), sample.samples.end());
    samples.resize(44100 * seconds);
    EXPECT_EQ(platform::writeMonoWav16(work.file(name), samples), "");
    return work.file(name);
  }

  std::vector<std::string> command(const std::string& mic, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {QB_QUIBBLERS, "--mic", mic, "--collection-server", "127.0.0.1:9"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  std::map<std::string, std::string> env(const std::string& path = "") {
    std::map<std::string, std::string> e{{"XDG_DATA_HOME", data.path().string()}};
    if (!path.empty()) e["PATH"] = path + ":" + std::getenv("PATH");
    return e;
  }
  // Runs to the end; the exit status, and stdout and stderr in `output`.
  int run(const std::string& mic, const std::vector<std::string>& extra, std::string& output) {
    ChildProcess app(command(mic, extra), env(), data.file("run.log"));
    const int status = app.wait(300).value_or(-1);
    output = readTextFile(data.file("run.log"));
    return status;
  }

  TempDir work;  // the recording and every output
  TempDir data;  // analytics and logs, outside `work`
};

}  // namespace

TEST_F(AnswerOutputs, RefusedOutputsFailBeforeTheRunAndLeaveEveryFileAsItWas) {
  const std::string mic = work.file("mic.wav");
  fs::create_symlink("mic.wav", work.file("link-to-mic.wav"));
  fs::create_hard_link(mic, work.file("hard-link-to-mic.csv"));
  writeFile(work.file("earlier.wav"), "earlier");
  fs::create_symlink("earlier.wav", work.file("link-to-earlier.mp4"));
  fs::create_directory(work.file("folder"));
  fs::create_directory(work.file("album"));
  writeFile(work.file("album/holiday.jpg"), "photo");
  struct Case {
    std::vector<std::string> outputs;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"--speaker", mic}, "is the recording being answered"},
      {{"--video", work.file("link-to-mic.wav")}, "is the recording being answered"},
      {{"--frame-log", work.file("hard-link-to-mic.csv")}, "is the recording being answered"},
      {{"--speaker", work.file("out.wav"), "--frame-log", work.file("out.wav")}, "name the same file"},
      {{"--speaker", work.file("earlier.wav"), "--video", work.file("link-to-earlier.mp4")}, "name the same file"},
      {{"--video", work.file("folder")}, "it is a folder"},
      {{"--speaker", work.file("out.wav/")}, "it names a folder"},
      {{"--speaker", work.file("missing/out.wav")}, "No such file or directory"},
      {{"--frames", work.file("album")}, "holiday.jpg, which is not a frame"},
      {{"--frames", work.path().string()}, "holds the recording being answered"},
      {{"--frames", work.file("folder"), "--speaker", work.file("folder/out.wav")}, "inside the frames folder"},
  };
  const auto before = snapshot(work.path());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.outputs[0] + " " + c.outputs[1]);
    std::string output;
    EXPECT_EQ(run(mic, c.outputs, output), 1);
    EXPECT_NE(output.find(c.says), std::string::npos) << output;
    EXPECT_EQ(lineCount(output), 1) << output;
    EXPECT_EQ(snapshot(work.path()), before);
  }
}

TEST_F(AnswerOutputs, ACompleteRunReplacesEarlierOutputsWhole) {
  // Names that once collided with the video's own temporary files.
  const std::string video = work.file("V.mp4");
  const std::vector<std::string> outputs = {
      "--speaker", video + ".track.wav", "--frame-log", video + ".video-only.mp4",
      "--video", video, "--frames", work.file("frames/")};
  writeFile(video, "earlier video");
  fs::create_directory(work.file("frames"));
  writeFile(work.file("frames/frame_099999.png"), "a frame of a longer earlier run");

  std::string output;
  ASSERT_EQ(run(work.file("mic.wav"), outputs, output), 0) << output;
  const auto speaker = platform::readMonoWav16(video + ".track.wav");
  EXPECT_TRUE(speaker.ok()) << speaker.error;
  EXPECT_GT(readTextFile(video).size(), 1000u);
  EXPECT_EQ(readTextFile(video + ".video-only.mp4").rfind("tick,time", 0), 0u);
  EXPECT_FALSE(fs::exists(work.file("frames/frame_099999.png"))) << "no stale frame of the earlier run";
  EXPECT_TRUE(fs::exists(work.file("frames/frame_000000.png")));
  for (const auto& e : fs::directory_iterator(work.path())) {
    EXPECT_NE(e.path().filename().string()[0], '.') << "temporary left: " << e.path();
  }
}

TEST_F(AnswerOutputs, AFullDiskFailsWithTheReasonAndKeepsTheEarlierFile) {
  const std::string disk = work.file("disk");
  fs::create_directory(disk);
  if (geteuid() != 0 || mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=16k") != 0) {
    GTEST_SKIP() << "needs root to mount a small tmpfs";
  }
  struct Case {
    std::string option;
    std::string name;
  };
  for (const Case& c : std::vector<Case>{{"--speaker", "out.wav"}, {"--frame-log", "out.csv"},
                                         {"--video", "out.mp4"}, {"--frames", "frames"}}) {
    SCOPED_TRACE(c.option);
    const std::string path = disk + "/" + c.name;
    if (c.option == "--frames") {
      fs::create_directory(path);
      writeFile(path + "/frame_000000.png", "earlier");
    } else {
      writeFile(path, "earlier");
    }
    const auto before = snapshot(disk);
    std::string output;
    // Thirty seconds: more of every output than the disk holds.
    const std::string mic = fs::exists(work.file("mic30.wav")) ? work.file("mic30.wav") : recording("mic30.wav", 30);
    EXPECT_EQ(run(mic, {c.option, path}, output), 1);
    EXPECT_NE(output.find("No space left on device"), std::string::npos) << output;
    EXPECT_EQ(lineCount(output), 1) << output;
    EXPECT_EQ(snapshot(disk), before);
    fs::remove_all(path);
  }
  umount2(disk.c_str(), MNT_DETACH);
}

// Whether the process's main thread has `signal` blocked, which the run does once a thread of
// its own waits for termination signals.
static bool signalBlocked(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigBlk:", 0) == 0) return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1;
  }
  return false;
}

TEST_F(AnswerOutputs, ATerminationSignalEndsTheRunWithItsStatusWhateverTheRunIsDoing) {
  // An encoder that takes nothing and never ends.
  const std::string fakes = work.file("fakes");
  fs::create_directory(fakes);
  const std::string encoderPid = data.file("encoder.pid");
  writeFile(fakes + "/ffmpeg", "#!/bin/sh\necho $$ > " + encoderPid + "\nexec sleep 600\n");
  fs::permissions(fakes + "/ffmpeg", fs::perms::owner_all);
  ASSERT_EQ(mkfifo(work.file("fifo.wav").c_str(), 0600), 0);
  // Long enough to be still running when it is signalled: the sound alone is answered far faster
  // than real time, so the answers also draw every picture.
  const std::string longer = recording("long.wav", 300);
  writeFile(work.file("earlier.wav"), "earlier");
  // Once it exists, a run has begun its usage session (slow builds take a while to get there).
  const std::string store = data.file("quibblers/tallyhive/9d4c2b7e81f03a56c7e2d19b40f8a635.sql");
  const auto sessionBegun = [&] { return fs::exists(store); };

  struct Case {
    const char* doing;
    int signal;
    std::string mic;
    std::vector<std::string> outputs;
    std::string path;  // for the fake encoder
    std::function<bool()> ready;
  };
  const std::vector<Case> cases = {
      {"opening a FIFO without a writer", SIGTERM, work.file("fifo.wav"), {"--speaker", work.file("earlier.wav")}, "",
       [] { return true; }},
      {"writing to a stalled encoder", SIGTERM, work.file("mic.wav"),
       {"--video", work.file("out.mp4"), "--speaker", work.file("earlier.wav")}, fakes,
       [&] { return fs::exists(encoderPid); }},
      {"answering a long recording", SIGINT, longer,
       {"--speaker", work.file("earlier.wav"), "--frame-log", work.file("log.csv"), "--frames", work.file("frames")},
       "", sessionBegun},
      {"answering, when the terminal closes", SIGHUP, longer,
       {"--speaker", work.file("earlier.wav"), "--frames", work.file("frames")}, "", sessionBegun},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.doing);
    fs::remove(encoderPid);
    const auto before = snapshot(work.path());
    ChildProcess app(command(c.mic, c.outputs), env(c.path), data.file("run.log"));
    // A signal that comes before the run takes over its signals would only kill it.
    const auto takesSignal = [&] { return signalBlocked(app.pid(), c.signal); };
    for (int i = 0; i < 1000 && !(takesSignal() && c.ready()); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(app.running()) << readTextFile(data.file("run.log"));
    // Generous: this guards against a hang, it does not time the exit.
    EXPECT_EQ(app.stop(c.signal, 20), 128 + c.signal);
    const std::string output = readTextFile(data.file("run.log"));
    EXPECT_NE(output.find(std::string("stopped by SIG") + sigabbrev_np(c.signal)), std::string::npos) << output;
    EXPECT_NE(output.find("s of the"), std::string::npos) << "says how much was answered: " << output;
    EXPECT_EQ(snapshot(work.path()), before);
    if (fs::exists(encoderPid)) {
      const pid_t encoder = std::stoi(readTextFile(encoderPid));
      EXPECT_NE(kill(encoder, 0), 0) << "the encoder is not left running";
    }
  }
  // Every session the runs began was ended.
  const auto open = queryInt(store, "SELECT count(*) FROM beacon WHERE ifnull(time_stopped,'') = ''");
  ASSERT_TRUE(open) << store;
  EXPECT_EQ(*open, 0);
}

TEST_F(AnswerOutputs, AClosedStdoutDoesNotKillAFinishedRun) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);  // nobody reads what the run prints
  const auto args = command(work.file("mic.wav"), {"--speaker", work.file("out.wav")});
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    dup2(fds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  int raw = 0;
  ASSERT_EQ(waitpid(pid, &raw, 0), pid);
  EXPECT_TRUE(WIFEXITED(raw)) << "killed by signal " << (WIFSIGNALED(raw) ? WTERMSIG(raw) : 0);
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 0);
  EXPECT_TRUE(platform::readMonoWav16(work.file("out.wav")).ok());
}

// The view module is loaded from beside the program wherever its tree is; without it a run that
// needs pictures stops with one sentence naming it and writes nothing, and a sound-only run
// does not need it.
TEST_F(AnswerOutputs, ModulesComeFromBesideTheProgramAndAMissingOneIsNamed) {
  const fs::path tree = work.path() / "tree";
  fs::create_directories(tree / "bin");
  fs::create_directories(tree / "share");
  fs::copy_file(QB_QUIBBLERS, tree / "bin" / "quibblers");
  fs::create_directory_symlink(fs::path(QB_SOURCE_DIR) / "resources", tree / "share" / "quibblers");
  const fs::path modules = tree / QB_MODULE_INSTALL_DIR;
  fs::create_directories(modules);
  fs::copy(fs::path(QB_QUIBBLERS).parent_path() / "lib" / "quibblers", modules, fs::copy_options::recursive);
  struct Case {
    const char* removed;  // module file taken out of the tree, or none
    const char* option;
    int status;
  };
  for (const Case& c : std::vector<Case>{{nullptr, "--frame-log", 0},
                                         {"view.so", "--frame-log", 1},
                                         {"view.so", "--speaker", 0}}) {
    SCOPED_TRACE(std::string(c.removed ? c.removed : "all modules") + " " + c.option);
    if (c.removed) fs::remove(modules / c.removed);
    const std::string out = work.file("out");
    fs::remove(out);
    ChildProcess app({(tree / "bin" / "quibblers").string(), "--mic", work.file("mic.wav"), c.option, out,
                      "--no-analytics"},
                     env(), data.file("run.log"));
    EXPECT_EQ(app.wait(300).value_or(-1), c.status);
    const std::string output = readTextFile(data.file("run.log"));
    EXPECT_EQ(fs::exists(out), c.status == 0) << output;
    if (c.status != 0) {
      EXPECT_NE(output.find("view module"), std::string::npos) << output;
      EXPECT_EQ(lineCount(output), 1) << output;
    }
  }
}

TEST(CommandLine, AMistakeIsOneLineAndOneHint) {
  TempDir dir;
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--shout"}, {"--speaker", "out.wav"}, {"--mic", kSample, "--frames-per-cycle", "4096"}}) {
    std::vector<std::string> argv = {QB_QUIBBLERS};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess app(argv, {}, dir.file("out.log"));
    EXPECT_EQ(app.wait(30).value_or(0), 2);
    const std::string output = readTextFile(dir.file("out.log"));
    EXPECT_EQ(lineCount(output), 2) << output;
    EXPECT_EQ(output.rfind("quibblers: ", 0), 0u) << output;
  }
}

TEST(ConversionHint, PastingItRunsTheConverterOnExactlyThatFile) {
  TempDir dir;
  for (const std::string name : {"plain.wav", "it's here.wav", "$(touch pwned).wav", "`touch pwned`.wav",
                                 "-x.wav", "a\"b;c&d|e.wav", "two\nlines.wav"}) {
    SCOPED_TRACE(name);
    const std::string hint = platform::conversionHint(name);
    const std::string prefix = "convert it with: ";
    ASSERT_EQ(hint.rfind(prefix + "sox ", 0), 0u) << hint;
    // A stand-in for the converter that keeps its first argument.
    const std::string script = "cd '" + dir.path().string() +
                               "' && sox() { printf '%s' \"$1\" > first-argument; } && " +
                               hint.substr(prefix.size());
    ASSERT_EQ(platform::runProgram({"sh", "-c", script}), 0) << script;
    const std::string first = readTextFile(dir.file("first-argument"));
    EXPECT_TRUE(first == name || first == "./" + name) << first;
    EXPECT_NE(first[0], '-') << "never read as an option";
    EXPECT_FALSE(fs::exists(dir.file("pwned")));
  }
}
