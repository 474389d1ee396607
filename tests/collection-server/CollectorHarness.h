#pragma once
// Test helpers for the collector: empty databases of each kind (SQLite in a temp dir, or a
// PostgreSQL server the tests start in a scratch folder), the service on a free loopback port,
// and upload documents shaped like the app's.
#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CollectionService.h"
#include "SessionStore.h"
#include "TempDir.h"

// A fresh, empty database: "sqlite" or "postgresql".
class TestDatabase {
 public:
  // None, with `skip` set, when that kind is not installed here; throws when it is but fails.
  static std::unique_ptr<TestDatabase> create(const std::string& kind, std::string& skip);
  virtual ~TestDatabase() = default;
  // What --database takes.
  virtual std::string where() const = 0;
  // The raw database, e.g. to run SQL beside the store.
  virtual std::unique_ptr<SqlDatabase> raw() const = 0;
  std::unique_ptr<SessionStore> store() const { return std::make_unique<SessionStore>(raw()); }
  void execute(const std::string& sql) const {
    raw()->transaction([&](SqlConnection& c) { c.query(sql); });
  }
  // Rows of a query, each as its columns joined by "|".
  std::vector<std::string> rows(const std::string& sql) const;
};

// The service on 127.0.0.1 and a free port, serving from a thread of its own.
class RunningService {
 public:
  explicit RunningService(SessionStore* store, ServiceOptions options = {});
  ~RunningService();
  httplib::Result post(const std::string& body);
  int port() const { return service_.port(); }
  std::string log() const { return log_.str(); }

 private:
  std::ostringstream log_;
  CollectionService service_;
  std::thread thread_;
};

struct TestSubSession {
  std::string id, name, started, stopped, timed = "1";
};
struct TestSession {
  std::string id, started, stopped;
  std::vector<TestSubSession> subs;
  std::string latitude = "", longitude = "";
};
struct TestDevice {
  std::string id = "device-1", model = "x86_64", os = "12", application = "abc", version = "0.1.0";
};

// The JSON document of an upload, every value a text, as the app sends it.
std::string uploadJson(const std::vector<TestSession>& sessions, const TestDevice& device = {});
// The request body: "beacons=" and the document.
inline std::string uploadBody(const std::vector<TestSession>& sessions, const TestDevice& device = {}) {
  return "beacons=" + uploadJson(sessions, device);
}

// A collector's store in a fresh SQLite file, for tests that run the service against it.
class SqliteCollectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string skip;
    database = TestDatabase::create("sqlite", skip);
    store = database->store();
  }
  std::string stored() const { return database->rows("SELECT COUNT(*) FROM session")[0]; }

  std::unique_ptr<TestDatabase> database;
  std::unique_ptr<SessionStore> store;
};
