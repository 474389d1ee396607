// A backlog of 100,000 stored sessions: one bounded upload as the app makes it (read the oldest,
// encode, POST to a server on 127.0.0.1, delete exactly what it carried), against the peer that
// every upload used to be: reading and encoding the whole backlog (without even sending it).
// Prints the ratio, the upload's time against the 5 s exit wait, and the body's size.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <thread>

#include "Beacon.h"
#include "Classes/Utils/Database/BeaconDatabase.h"
#include "CollectionServer.h"
#include "JSONUtils.h"
#include "platform/NSFileManager.h"
#include "platform/Reachability.h"

namespace {

constexpr int kBacklog = 100000;

void setReachable(bool yes) {
  platform::setReachabilityFlagsOverride([yes](const std::string&, SCNetworkReachabilityFlags* flags) {
    *flags = yes ? kSCNetworkReachabilityFlagsReachable : 0;
    return true;
  });
}

// kBacklog ended sessions with one sub-session each, a controller whose own session has ended,
// and a collection server that accepts everything.
struct Backlog {
  Backlog() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quibblers-backlog-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir = pattern;
    platform::setDocumentsDirectory(dir);
    BeaconDatabase::initWithApplicationCode("backlog");
    sqlite3* db = nullptr;
    sqlite3_open((dir + "/tallyhive/backlog.sql").c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int b = 1; b <= kBacklog; ++b) {
      sqlite3_exec(db, "INSERT INTO beacon (time_started, time_stopped) VALUES ('1700000000', '1700000600')", nullptr,
                   nullptr, nullptr);
      const std::string sql = "INSERT INTO sub_beacon (beacon_id, name, time_started, time_stopped, is_session) VALUES (" +
                              std::to_string(b) + ", 'greeting', '1700000100', '1700000200', 1)";
      sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);

    // A content reader: the library refuses form bodies over 8 KiB before a plain handler runs.
    server.Post("/", [this](const httplib::Request&, httplib::Response& response, const httplib::ContentReader& read) {
      size_t length = 0;
      read([&length](const char*, size_t size) {
        length += size;
        return true;
      });
      bodyBytes = length;
      response.set_content("success", "text/plain");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    CollectionServer::set("127.0.0.1:" + std::to_string(port));

    setReachable(false);  // nothing goes out while the controller opens and ends its session
    beacon = Beacon::initAndStartBeaconWithApplicationCode("backlog", false, false);
    beacon->endBeacon();
    setReachable(true);
  }
  ~Backlog() {
    Beacon::releaseShared();
    server.stop();
    thread.join();
    std::filesystem::remove_all(dir);
  }

  std::string dir;
  httplib::Server server;
  std::thread thread;
  std::atomic<size_t> bodyBytes{0};
  Beacon* beacon = nullptr;
};

Backlog& backlog() {
  static Backlog b;
  return b;
}

void OneBoundedUpload(benchmark::State& state) {
  Backlog& b = backlog();
  for (auto _ : state) b.beacon->attemptToSendBeaconsAsync(false);
  state.counters["body_bytes"] = static_cast<double>(b.bodyBytes.load());
  state.counters["sessions"] = static_cast<double>(Beacon::kMaximumBeaconsPerUpload);
}
BENCHMARK(OneBoundedUpload)->Unit(benchmark::kMillisecond)->Iterations(20);

void WholeBacklogReadAndEncoded(benchmark::State& state) {
  auto store = BeaconDatabase::shared();
  if (!store) return;
  size_t bytes = 0;
  for (auto _ : state) {
    const JSONArray records = store->getBeaconsToSendWithBeaconRunning(false);
    std::string document;
    for (const auto& record : records) {
      if (!document.empty()) document += ',';
      JSONUtils::appendValue(document, record, 0);
    }
    bytes = document.size();
    benchmark::DoNotOptimize(document);
  }
  state.counters["document_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(WholeBacklogReadAndEncoded)->Unit(benchmark::kMillisecond)->Iterations(2);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) times[run.run_name.function_name] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double bounded = reporter.times["OneBoundedUpload"];
  const double whole = reporter.times["WholeBacklogReadAndEncoded"];
  if (bounded > 0 && whole > 0) {
    std::cout << "one bounded upload / whole-backlog read and encoding = " << bounded / whole << "\n"
              << "one bounded upload / the 5 s exit wait = " << bounded / 5000.0 << "\n"
              << "uploads to drain " << kBacklog << " sessions: "
              << (kBacklog + Beacon::kMaximumBeaconsPerUpload - 1) / Beacon::kMaximumBeaconsPerUpload << "\n";
  }
  benchmark::Shutdown();
  return 0;
}
