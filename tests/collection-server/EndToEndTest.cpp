// The app and the collector together, as the README runs them: over several runs, with the
// collector up, down, or answering nonsense, every session ends up stored exactly once, and the
// app deletes only what the collector has committed.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "ChildProcess.h"
#include "CollectorHarness.h"
#include "RawWav.h"
#include "TempDir.h"

namespace {

class AppAndCollector : public ::testing::Test {
 protected:
  void SetUp() override {
    // One second of silence: a run that records nothing and ends.
    ASSERT_TRUE(writeRawPcmWav(dir.file("mic.wav"), 1, 16, 44100, std::vector<std::uint8_t>(88200, 0)));
  }

  // The collector on a free port, keeping uploads in one database across its restarts.
  std::unique_ptr<ChildProcess> startCollector(const std::vector<std::string>& flags, std::string& address) {
    std::vector<std::string> argv = {QB_COLLECTION_SERVER_PROGRAM, "--listen", "127.0.0.1:0", "--database",
                                     dir.file("collector.sqlite")};
    argv.insert(argv.end(), flags.begin(), flags.end());
    const std::string log = dir.file("collector-" + std::to_string(++collectors) + ".log");
    auto collector = std::make_unique<ChildProcess>(argv, std::map<std::string, std::string>{}, log);
    const std::string marker = "listening on http://";
    for (int i = 0; i < 200; ++i) {
      const std::string text = readTextFile(log);
      if (const size_t at = text.find(marker); at != std::string::npos && text.find('/', at + marker.size()) != std::string::npos) {
        address = text.substr(at + marker.size(), text.find('/', at + marker.size()) - at - marker.size());
        return collector;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "the collector did not start: " << readTextFile(log);
    return nullptr;
  }

  void runApp(const std::string& server) {
    ChildProcess app({QB_QUIBBLERS, "--mic", dir.file("mic.wav"), "--speaker", dir.file("answer.wav"),
                      "--collection-server", server},
                     {{"XDG_DATA_HOME", dir.file("data")}}, dir.file("quibblers.log"));
    ASSERT_EQ(app.wait(120).value_or(-1), 0) << readTextFile(dir.file("quibblers.log"));
  }

  // The app's own session numbers still in its store.
  std::set<std::string> keptByTheApp() const {
    std::set<std::string> ids;
    const auto folder = std::filesystem::path(dir.file("data")) / "quibblers" / "tallyhive";
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
      if (file.path().extension() != ".sql") continue;
      // Read-only, so the app's file stays exactly as the app left it.
      sqlite3* db = nullptr;
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_open_v2(file.path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
          sqlite3_prepare_v2(db, "SELECT id FROM beacon", -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
          ids.insert(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        }
      } else {
        ids.insert("unreadable: " + file.path().string());
      }
      sqlite3_finalize(statement);
      sqlite3_close(db);
    }
    return ids;
  }

  // The app's session numbers the collector has stored, and how many rows they take.
  std::pair<std::set<std::string>, size_t> keptByTheCollector() const {
    std::set<std::string> ids;
    size_t rows = 0;
    openSqlite(dir.file("collector.sqlite"))->transaction([&](SqlConnection& c) {
      for (const auto& row : c.query("SELECT app_session_id FROM session")) {
        ids.insert(row[0].value_or(""));
        ++rows;
      }
    });
    return {ids, rows};
  }

  TempDir dir;
  int collectors = 0;
};

TEST_F(AppAndCollector, EverySessionEndsUpStoredOnceAcrossRuns) {
  struct Step {
    const char* what;
    std::optional<std::vector<std::string>> collector;  // none: no collector running
    std::set<std::string> kept;                           // left in the app's store after the run
  };
  const Step steps[] = {
      {"collector up", std::vector<std::string>{}, {}},
      {"collector down", std::nullopt, {"2"}},
      {"collector stores but its answer is lost", std::vector<std::string>{"--garbage"}, {"2", "3"}},
      {"collector fails", std::vector<std::string>{"--fail"}, {"2", "3", "4"}},
      {"collector up again", std::vector<std::string>{}, {}},
  };
  int runs = 0;
  for (const Step& step : steps) {
    std::string address = "127.0.0.1:9";  // nothing listens there
    std::unique_ptr<ChildProcess> collector;
    if (step.collector) {
      collector = startCollector(*step.collector, address);
      ASSERT_TRUE(collector) << step.what;
    }
    runApp(address);
    ++runs;
    if (collector) {
      EXPECT_EQ(collector->stop(SIGTERM, 30), 0) << step.what;
    }

    EXPECT_EQ(keptByTheApp(), step.kept) << step.what;
    // Nothing lost: each run's session is in the app's store, the collector's, or both.
    auto [stored, rows] = keptByTheCollector();
    EXPECT_EQ(rows, stored.size()) << step.what << ": a session stored twice";
    std::set<std::string> everywhere = stored;
    everywhere.insert(step.kept.begin(), step.kept.end());
    EXPECT_EQ(everywhere.size(), static_cast<size_t>(runs)) << step.what;
  }
  EXPECT_EQ(keptByTheCollector().first, (std::set<std::string>{"1", "2", "3", "4", "5"}));
}

}  // namespace
