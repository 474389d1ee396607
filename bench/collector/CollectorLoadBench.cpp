// Load on the collector: 10,000 sessions (each upload one session with two sub-sessions, as the
// app sends at exit) from 8 concurrent keep-alive clients, half of the sessions sent a second
// time as when a "success" answer is lost. Checks that exactly the 10,000 distinct sessions are
// stored, and prints the rate against the same run on the printing-only collector.
//
//   build/bench/collector/collector_load_bench [--database PATH|postgresql://...]
//
// Without --database the sessions go to a fresh SQLite file in a temp folder (WAL, full sync:
// one fsync'd commit per upload). Exit status 1 when the stored count is wrong.
#include <httplib.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "CollectionService.h"

namespace {

constexpr int kSessions = 10000;
constexpr int kClients = 8;
constexpr int kDevices = 100;

std::string body(int session) {
  const long long start = 1700000000LL + session * 60LL;
  const std::string s = std::to_string(start);
  return "beacons={\"iphone_id\":\"device-" + std::to_string(session % kDevices) +
         "\",\"device_model\":\"x86_64\",\"device_os\":\"12\",\"application_code\":\"bench\",\"app_version\":\"0.1." +
         std::to_string(session % 3) + "\",\"beacons\":[{ \"id\" : \"" + std::to_string(session / kDevices + 1) +
         "\", \"time_started\" : \"" + s + "\", \"time_stopped\" : \"" + std::to_string(start + 30 + session % 50) +
         "\", \"latitude\" : \"\", \"longitude\" : \"\", \"subbeacons\" : [{ \"id\" : \"1\", \"beacon_id\" : \"1\","
         " \"name\" : \"menu\", \"time_started\" : \"" + s + "\", \"time_stopped\" : \"\", \"is_session\" : \"1\"},"
         " { \"id\" : \"2\", \"beacon_id\" : \"1\", \"name\" : \"level " + std::to_string(session % 7) +
         "\", \"time_started\" : \"" + s + "\", \"time_stopped\" : \"\", \"is_session\" : \"0\"}]}]}";
}

struct Run {
  double seconds = 0;
  int requests = 0;
  int failures = 0;
};

// Every client sends its share of the sessions, then re-sends every second one of them.
Run load(SessionStore* store) {
  std::ostream discard(nullptr);
  ServiceOptions options;
  CollectionService service(store, options, discard);
  if (!service.bind("127.0.0.1", 0)) throw std::runtime_error("cannot bind a loopback port");
  std::thread server([&] { service.run(); });
  while (!service.running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));

  std::vector<std::thread> clients;
  std::vector<Run> runs(kClients);
  const auto started = std::chrono::steady_clock::now();
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      httplib::Client client("127.0.0.1", service.port());
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      auto send = [&](int session) {
        const auto answer = client.Post("/", body(session), "application/x-www-form-urlencoded");
        ++runs[c].requests;
        if (!answer || answer->body != "success") ++runs[c].failures;
      };
      for (int s = c; s < kSessions; s += kClients) send(s);
      for (int s = c; s < kSessions; s += 2 * kClients) send(s);
    });
  }
  for (auto& t : clients) t.join();
  Run total;
  total.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  for (const Run& r : runs) {
    total.requests += r.requests;
    total.failures += r.failures;
  }
  service.stop();
  server.join();
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  std::string where;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--database") where = argv[i + 1];
  }
  std::filesystem::path scratch;
  if (where.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "collector-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 2;
    scratch = pattern;
    where = (scratch / "sessions.sqlite").string();
  }
  int status = 0;
  try {
    const Run printing = load(nullptr);
    const auto store = openSessionStore(where);
    const Run storing = load(store.get());
    const Figures stored = store->figures();

    std::cout << kSessions << " sessions, " << kSessions / 2 << " of them sent twice, from " << kClients
              << " clients (" << storing.requests << " uploads)\n";
    for (const auto& [name, run] : {std::pair{"printing only", printing}, std::pair{"storing", storing}}) {
      std::cout << "  " << name << ": " << run.seconds << " s, " << static_cast<int>(run.requests / run.seconds)
                << " uploads/s, " << run.failures << " not answered \"success\"\n";
    }
    std::cout << "  storing runs at " << printing.seconds / storing.seconds << "x the printing-only rate ("
              << store->describe() << ")\n";
    std::cout << "  stored: " << stored.sessions << " sessions, " << stored.subSessions << " sub-sessions\n";
    if (stored.sessions != kSessions || stored.subSessions != 2 * kSessions || storing.failures != 0 ||
        printing.failures != 0) {
      std::cout << "FAILED: expected exactly " << kSessions << " sessions and " << 2 * kSessions
                << " sub-sessions, every upload answered \"success\"\n";
      status = 1;
    }
  } catch (const std::exception& e) {
    std::cerr << "collector_load_bench: " << e.what() << "\n";
    status = 2;
  }
  if (!scratch.empty()) std::filesystem::remove_all(scratch);
  return status;
}
