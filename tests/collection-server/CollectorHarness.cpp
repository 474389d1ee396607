#include "CollectorHarness.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "ChildProcess.h"
#include "TempDir.h"

namespace {

// One PostgreSQL server per test program, in a scratch folder, reached over a Unix socket only.
class ScratchPostgres {
 public:
  // None (and `skip` set) where PostgreSQL is not installed; throws when it is but does not start.
  static ScratchPostgres* shared(std::string& skip) {
    static std::string why;
    static bool missing = false;
    static std::unique_ptr<ScratchPostgres> server = [] {
      auto s = std::make_unique<ScratchPostgres>();
      why = s->start(missing);
      return why.empty() ? std::move(s) : nullptr;
    }();
    if (server) return server.get();
    if (!missing) throw std::runtime_error(why);
    skip = why;
    return nullptr;
  }

  // In /tmp itself, whatever TMPDIR says: the socket path must stay short, and "nobody" must be
  // able to reach the folder.
  ScratchPostgres() {
    char pattern[] = "/tmp/qb-pg-XXXXXX";
    if (mkdtemp(pattern)) dir_ = pattern;
  }

  ~ScratchPostgres() {
    if (started_) run({bin_ + "/pg_ctl", "-D", data(), "-m", "immediate", "-w", "stop"}, "stop.log");
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }

  std::string uri(const std::string& database) const { return "postgresql://qb@/" + database + "?host=" + dir_; }

 private:
  std::string file(const std::string& name) const { return dir_ + "/" + name; }
  std::string data() const { return file("data"); }

  // Runs a PostgreSQL program; as root, as "nobody", since the server refuses to run as root.
  bool run(std::vector<std::string> argv, const std::string& log) const {
    if (geteuid() == 0) argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", "nobody", "--"});
    ChildProcess program(argv, {}, file(log));
    return program.wait(120).value_or(-1) == 0;
  }

  std::string start(bool& missing) {
    for (const char* version : {"17", "16", "15", "14", "13"}) {
      const std::string bin = std::string("/usr/lib/postgresql/") + version + "/bin";
      if (std::filesystem::exists(bin + "/initdb") && std::filesystem::exists(bin + "/pg_ctl")) {
        bin_ = bin;
        break;
      }
    }
    if (dir_.empty()) return "cannot make a scratch folder in /tmp";
    missing = bin_.empty();
    if (bin_.empty()) return "no PostgreSQL server here (/usr/lib/postgresql/*/bin/initdb); install postgresql";
    if (geteuid() == 0) {
      const passwd* nobody = getpwnam("nobody");
      if (!nobody || !std::filesystem::exists("/usr/sbin/runuser")) return "running as root without a \"nobody\" user to run PostgreSQL as";
      if (chown(dir_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) return "cannot hand the scratch folder to nobody";
    }
    if (!run({bin_ + "/initdb", "-D", data(), "-U", "qb", "--auth=trust", "--locale=C", "--encoding=UTF8", "-N"},
             "initdb.log")) {
      return "initdb failed: " + readTextFile(file("initdb.log"));
    }
    if (!run({bin_ + "/pg_ctl", "-D", data(), "-l", file("server.log"), "-w", "-t", "60", "-o",
              "-k " + dir_ + " -c listen_addresses='' -c fsync=off", "start"},
             "start.log")) {
      return "the PostgreSQL server did not start: " + readTextFile(file("start.log")) + readTextFile(file("server.log"));
    }
    started_ = true;
    return "";
  }

  std::string dir_;
  std::string bin_;
  bool started_ = false;
};

class SqliteTestDatabase final : public TestDatabase {
 public:
  std::string where() const override { return dir_.file("sessions.sqlite"); }
  std::unique_ptr<SqlDatabase> raw() const override { return openSqlite(where(), 200); }

 private:
  TempDir dir_;
};

class PostgresTestDatabase final : public TestDatabase {
 public:
  explicit PostgresTestDatabase(ScratchPostgres& server) : server_(server) {
    static int databases = 0;
    name_ = "collector_" + std::to_string(++databases);
    // CREATE DATABASE cannot run inside a transaction block: COMMIT the one around it first.
    openPostgres(server_.uri("postgres"))->transaction([&](SqlConnection& c) {
      c.query("COMMIT");
      c.query("CREATE DATABASE " + name_);
      c.query("BEGIN");
    });
  }
  std::string where() const override { return server_.uri(name_); }
  std::unique_ptr<SqlDatabase> raw() const override { return openPostgres(where()); }

 private:
  ScratchPostgres& server_;
  std::string name_;
};

}  // namespace

std::unique_ptr<TestDatabase> TestDatabase::create(const std::string& kind, std::string& skip) {
  if (kind == "sqlite") return std::make_unique<SqliteTestDatabase>();
  ScratchPostgres* server = ScratchPostgres::shared(skip);
  if (!server) return nullptr;
  return std::make_unique<PostgresTestDatabase>(*server);
}

std::vector<std::string> TestDatabase::rows(const std::string& sql) const {
  std::vector<std::string> out;
  raw()->transaction([&](SqlConnection& c) {
    for (const auto& row : c.query(sql)) {
      std::string line;
      for (size_t i = 0; i < row.size(); ++i) line += (i ? "|" : "") + row[i].value_or("NULL");
      out.push_back(line);
    }
  });
  return out;
}

RunningService::RunningService(SessionStore* store, ServiceOptions options) : service_(store, options, log_) {
  if (!service_.bind("127.0.0.1", 0)) throw std::runtime_error("cannot bind a loopback port");
  thread_ = std::thread([this] { service_.run(); });
  while (!service_.running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

RunningService::~RunningService() {
  service_.stop();
  thread_.join();
}

httplib::Result RunningService::post(const std::string& body) {
  httplib::Client client("127.0.0.1", port());
  return client.Post("/", body, "application/x-www-form-urlencoded");
}

std::string uploadJson(const std::vector<TestSession>& sessions, const TestDevice& device) {
  nlohmann::ordered_json document = {{"iphone_id", device.id},
                                     {"device_model", device.model},
                                     {"device_os", device.os},
                                     {"application_code", device.application},
                                     {"app_version", device.version},
                                     {"beacons", nlohmann::ordered_json::array()}};
  for (const TestSession& s : sessions) {
    nlohmann::ordered_json beacon = {{"id", s.id},
                                     {"time_started", s.started},
                                     {"time_stopped", s.stopped},
                                     {"latitude", s.latitude},
                                     {"longitude", s.longitude},
                                     {"subbeacons", nlohmann::ordered_json::array()}};
    for (const TestSubSession& sub : s.subs) {
      beacon["subbeacons"].push_back({{"id", sub.id},
                                      {"beacon_id", s.id},
                                      {"name", sub.name},
                                      {"time_started", sub.started},
                                      {"time_stopped", sub.stopped},
                                      {"is_session", sub.timed}});
    }
    document["beacons"].push_back(beacon);
  }
  return document.dump();
}
