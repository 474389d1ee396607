// Reading and encoding a large store, and the encoder against nlohmann::json's dump of the same
// records. Prints the encoder's time as a ratio of nlohmann's (below 1: faster).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>

#include "Classes/Utils/Database/BeaconDatabase.h"
#include "JSONUtils.h"
#include "platform/NSFileManager.h"

namespace {

constexpr int kBeacons = 10000;
constexpr int kSubBeacons = 5;

// A store of kBeacons ended beacons with kSubBeacons sub-beacons each, filled in one transaction.
struct Fixture {
  Fixture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quibblers-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir = pattern;
    platform::setDocumentsDirectory(dir);
    store = BeaconDatabase::initWithApplicationCode("bench");
    sqlite3* db = nullptr;
    sqlite3_open((dir + "/tallyhive/bench.sql").c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int b = 1; b <= kBeacons; ++b) {
      sqlite3_exec(db, "INSERT INTO beacon (time_started, time_stopped, latitude, longitude) "
                       "VALUES ('1700000000', '1700000600', 52.520008, 13.404954)",
                   nullptr, nullptr, nullptr);
      for (int s = 0; s < kSubBeacons; ++s) {
        const std::string sql = "INSERT INTO sub_beacon (beacon_id, name, time_started, time_stopped, is_session) "
                                "VALUES (" + std::to_string(b) + ", 'level \"" + std::to_string(s) +
                                "\" done', '1700000100', '1700000200', 1)";
        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
      }
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    records = store->getBeaconsToSendWithBeaconRunning(false);
    for (const auto& record : records) peers.push_back(toNlohmann(record));
  }
  ~Fixture() {
    store.reset();
    std::filesystem::remove_all(dir);
  }

  static nlohmann::ordered_json toNlohmann(const JSONValue& value) {
    if (const auto* text = value.get<std::string>()) return *text;
    if (const auto* array = value.get<JSONArray>()) {
      auto out = nlohmann::ordered_json::array();
      for (const auto& element : *array) out.push_back(toNlohmann(element));
      return out;
    }
    auto out = nlohmann::ordered_json::object();
    if (const auto* dictionary = value.get<JSONDictionary>()) {
      for (const auto& [key, element] : *dictionary) out[key] = toNlohmann(element);
    }
    return out;
  }

  std::string dir;
  std::shared_ptr<BeaconDatabase> store;
  JSONArray records;
  std::vector<nlohmann::ordered_json> peers;
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

// What an upload does with the store: read every record, encode them into one document.
void ReadAndEncodeStore(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    const JSONArray records = f.store->getBeaconsToSendWithBeaconRunning(false);
    std::string document;
    for (const auto& record : records) {
      if (!document.empty()) document += ',';
      JSONUtils::appendValue(document, record, 0);
    }
    benchmark::DoNotOptimize(document);
  }
  state.counters["beacons"] = kBeacons;
}
BENCHMARK(ReadAndEncodeStore)->Unit(benchmark::kMillisecond)->Iterations(5);

void EncodeJSONUtils(benchmark::State& state) {
  Fixture& f = fixture();
  size_t bytes = 0;
  for (auto _ : state) {
    std::string document;
    for (const auto& record : f.records) document += JSONUtils::NSDictionaryToJSONString(*record.get<JSONDictionary>());
    bytes = document.size();
    benchmark::DoNotOptimize(document);
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
}
BENCHMARK(EncodeJSONUtils)->Unit(benchmark::kMillisecond);

void EncodeNlohmannDump(benchmark::State& state) {
  Fixture& f = fixture();
  size_t bytes = 0;
  for (auto _ : state) {
    std::string document;
    for (const auto& record : f.peers) document += record.dump();
    bytes = document.size();
    benchmark::DoNotOptimize(document);
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
}
BENCHMARK(EncodeNlohmannDump)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) times[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto ours = reporter.times.find("EncodeJSONUtils");
  const auto peer = reporter.times.find("EncodeNlohmannDump");
  if (ours != reporter.times.end() && peer != reporter.times.end() && peer->second > 0) {
    std::cout << "JSONUtils time / nlohmann::json dump time = " << ours->second / peer->second << "\n";
  }
  benchmark::Shutdown();
  return 0;
}
