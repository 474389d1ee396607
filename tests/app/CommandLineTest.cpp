// The program's command line as a person meets it: mistakes, and a --help that fits the terminal.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>

#include "ChildProcess.h"
#include "TempDir.h"

namespace {

const std::string kSample = std::string(QB_SOURCE_DIR) + "/resources/samples/hello-quibblers.wav";

int lineCount(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// What `quibblers --help` prints with COLUMNS set to `columns` (unset when none), its standard
// output a terminal of `terminalColumns` columns, or a pipe when 0.
std::string help(std::optional<std::string> columns, unsigned short terminalColumns) {
  int fds[2] = {-1, -1};
  winsize size{};
  size.ws_row = 24;
  size.ws_col = terminalColumns;
  pid_t pid = -1;
  if (terminalColumns > 0) {
    pid = forkpty(&fds[0], nullptr, nullptr, &size);
  } else if (pipe(fds) == 0) {
    pid = fork();
  }
  if (pid == 0) {
    if (terminalColumns == 0) dup2(fds[1], STDOUT_FILENO);
    if (columns) setenv("COLUMNS", columns->c_str(), 1);
    else unsetenv("COLUMNS");
    execl(QB_QUIBBLERS, QB_QUIBBLERS, "--help", static_cast<char*>(nullptr));
    _exit(127);
  }
  if (fds[1] >= 0) close(fds[1]);
  std::string out;
  char buffer[4096];
  ssize_t n = 0;
  // A terminal's reading end fails with EIO once the program has gone.
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
  return out;
}

std::size_t longestLine(const std::string& text) {
  std::istringstream lines(text);
  std::size_t longest = 0;
  for (std::string line; std::getline(lines, line);) longest = std::max(longest, line.size());
  return longest;
}

// The words of `text` joined by single spaces, so a phrase is found wherever the lines broke.
std::string words(const std::string& text) {
  std::istringstream in(text);
  std::string all;
  for (std::string word; in >> word;) all += (all.empty() ? "" : " ") + word;
  return all;
}

}  // namespace

TEST(CommandLine, AMistakeIsOneLineAndOneHint) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    std::string says;
    int lines;
  };
  const std::vector<Case> cases = {
      {{"--shout"}, "--shout", 2},
      {{"--speaker", "out.wav"}, "--mic", 2},
      {{"--mic", kSample, "--frames-per-cycle", "4096"}, "--frames-per-cycle", 2},
      // Nothing to write: the line itself names the way out.
      {{"--mic", kSample}, "--speaker FILE, --video FILE, --frames DIR or --frame-log FILE", 1},
      {{"--mic", kSample, "--greeting", "--character", "2"}, "--speaker FILE", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::vector<std::string> argv = {QB_QUIBBLERS};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ChildProcess app(argv, {{"XDG_DATA_HOME", dir.file("data")}}, dir.file("out.log"));
    EXPECT_EQ(app.wait(30).value_or(0), 2);
    const std::string output = readTextFile(dir.file("out.log"));
    EXPECT_EQ(lineCount(output), c.lines) << output;
    EXPECT_EQ(output.rfind("quibblers: ", 0), 0u) << output;
    EXPECT_NE(output.find(c.says), std::string::npos) << output;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("data"))) << "a mistake begins no usage session";
}

TEST(CommandLine, HelpFitsTheTerminalAndSaysRangesDefaultsAndTheWindowKeys) {
  struct Case {
    const char* where;
    std::optional<std::string> columns;
    unsigned short terminal;
    std::size_t width;
  };
  const std::vector<Case> cases = {
      {"a pipe", std::nullopt, 0, 80},
      {"a pipe, COLUMNS=60", "60", 0, 60},
      {"a 90-column terminal", std::nullopt, 90, 90},
      {"a 90-column terminal, COLUMNS=70", "70", 90, 70},
      {"a 300-column terminal", std::nullopt, 300, 100},
      {"COLUMNS that is not a number", "wide", 0, 80},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    const std::string text = help(c.columns, c.terminal);
    EXPECT_LE(longestLine(text), c.width) << text;
    EXPECT_GE(longestLine(text), c.width - 3) << "uses the width: " << text;
    const std::string all = words(text);
    for (const char* phrase : {"--frames-per-cycle N", "1-3072 (default 1024)", "--character {0,1,2,3}",
                               "In the window:", "Left, Right, 1-4", "F11 full screen", "Exit status:"}) {
      EXPECT_NE(all.find(phrase), std::string::npos) << phrase << " in " << text;
    }
  }
}
