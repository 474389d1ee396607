// The collector keeps what it answers "success" for, once, in SQLite and in PostgreSQL alike.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "CollectorHarness.h"
#include "Dashboard.h"

namespace {

class Store : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    std::string skip;
    database = TestDatabase::create(GetParam(), skip);
    if (!database) GTEST_SKIP() << skip;
    store = database->store();
  }

  std::string count(const char* table) const { return database->rows(std::string("SELECT COUNT(*) FROM ") + table)[0]; }

  // From now on the database refuses to store a sub-session of that name, as a database error.
  void refuseSubSessionsNamed(const std::string& name) const {
    if (GetParam() == "sqlite") {
      database->execute("CREATE TRIGGER refuse BEFORE INSERT ON sub_session WHEN NEW.name = '" + name +
                        "' BEGIN SELECT RAISE(ABORT, 'refused by the test'); END");
    } else {
      database->execute("CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN IF NEW.name = '" +
                        name + "' THEN RAISE EXCEPTION 'refused by the test'; END IF; RETURN NEW; END$$");
      database->execute("CREATE TRIGGER refuse BEFORE INSERT ON sub_session FOR EACH ROW EXECUTE FUNCTION refuse()");
    }
  }
  void acceptEverything() const {
    database->execute(GetParam() == "sqlite" ? "DROP TRIGGER refuse" : "DROP TRIGGER refuse ON sub_session");
  }

  std::unique_ptr<TestDatabase> database;
  std::unique_ptr<SessionStore> store;
};

const TestSession kFirst{"1", "1700000000", "1700000600", {{"1", "level 1", "1700000010", "1700000100"}}, "52.5", "13.25"};
const TestSession kSecond{"2", "1700090000", "", {{"2", "menu", "1700090005", ""}, {"3", "menu", "1700090050", ""}}};

TEST_P(Store, KeepsEachSessionOnceHoweverOftenItIsSent) {
  RunningService service(store.get());
  for (int attempt = 0; attempt < 2; ++attempt) {
    const auto answer = service.post(uploadBody({kFirst, kSecond}));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "success");
  }
  EXPECT_EQ(count("session"), "2");
  EXPECT_EQ(count("sub_session"), "3");

  // Sent again once it has ended, a session only gains its end times.
  TestSession ended = kSecond;
  ended.stopped = "1700090900";
  ended.subs[0].stopped = "1700090040";
  ASSERT_EQ(service.post(uploadBody({ended}))->body, "success");
  EXPECT_EQ(database->rows("SELECT app_session_id, time_started, time_stopped FROM session ORDER BY id"),
            (std::vector<std::string>{"1|1700000000|1700000600", "2|1700090000|1700090900"}));
  EXPECT_EQ(database->rows("SELECT name, time_stopped FROM sub_session ORDER BY id"),
            (std::vector<std::string>{"level 1|1700000100", "menu|1700090040", "menu|NULL"}));

  // The same numbers and times from another device, or for another application, are other sessions.
  TestDevice other;
  other.id = "device-2";
  ASSERT_EQ(service.post(uploadBody({kFirst}, other))->body, "success");
  other.application = "xyz";
  ASSERT_EQ(service.post(uploadBody({kFirst}, other))->body, "success");
  EXPECT_EQ(count("session"), "4");
  EXPECT_EQ(database->rows("SELECT COUNT(DISTINCT device_hash) FROM session")[0], "2");
}

// Collectors behind a load balancer share one database; the same upload reaching both at once
// is still stored once, and an upload the database refuses takes no other upload down with it.
TEST_P(Store, CollectorsSharingADatabaseStoreEachSessionOnce) {
  refuseSubSessionsNamed("poison");
  const auto otherStore = openSessionStore(database->where());
  RunningService one(store.get());
  RunningService other(otherStore.get());
  std::vector<std::string> uploads;
  for (int i = 0; i < 20; ++i) {
    const std::string start = std::to_string(1700000000 + i * 100);
    const char* name = i % 4 == 0 ? "poison" : "menu";
    uploads.push_back(uploadBody({{std::to_string(i + 10), start, "", {{"1", name, start, ""}}}, kFirst}));
  }
  std::vector<std::thread> senders;
  std::atomic<int> refused{0};
  std::atomic<int> failures{0};
  for (RunningService* service : {&one, &other, &one, &other}) {
    senders.emplace_back([&, service] {
      for (const auto& body : uploads) {
        const auto answer = service->post(body);
        const bool poisoned = body.find("poison") != std::string::npos;
        if (answer && poisoned && answer->status == 503) ++refused;
        if (!answer || (answer->body == "success") == poisoned) ++failures;
      }
    });
  }
  for (auto& t : senders) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(refused, 4 * 5);
  EXPECT_EQ(count("session"), "16");
  EXPECT_EQ(count("sub_session"), "16");
}

TEST_P(Store, AnswersSuccessOnlyForWhatItHasCommitted) {
  TestSession badTime = kFirst;
  badTime.started = "yesterday";
  const std::string noName = "beacons=" + [] {
    std::string json = uploadJson({kSecond});
    const std::string key = "\"name\":\"menu\",";
    return json.erase(json.find(key), key.size());
  }();
  struct Case {
    const char* what;
    std::string body;
    bool databaseRefuses;
    int status;
  };
  const Case cases[] = {
      {"not JSON", "beacons={\"iphone_id\":", false, 400},
      {"no beacons field", "other=1", false, 400},
      {"a start time that is no number", uploadBody({kFirst, badTime}), false, 400},
      {"a sub-session without a name", noName, false, 400},
      {"the database refusing the second session's sub-session", uploadBody({kFirst, kSecond}), true, 503},
  };
  RunningService service(store.get());
  for (const Case& c : cases) {
    if (c.databaseRefuses) refuseSubSessionsNamed("menu");
    const auto answer = service.post(c.body);
    ASSERT_TRUE(answer) << c.what;
    EXPECT_EQ(answer->status, c.status) << c.what;
    EXPECT_NE(answer->body, "success") << c.what;
    EXPECT_EQ(count("session"), "0") << c.what << ": nothing of a refused upload stays";
  }
  acceptEverything();
  ASSERT_EQ(service.post(uploadBody({kFirst, kSecond}))->body, "success");
  // Committed: another connection sees it all.
  const Figures seen = database->store()->figures();
  EXPECT_EQ(seen.sessions, 2);
  EXPECT_EQ(seen.subSessions, 3);
}

TEST_P(Store, FiguresSummariseWhatWasSent) {
  TestDevice older;
  older.version = "0.0.9";
  older.model = "aarch64";
  const std::vector<TestSession> day1 = {
      {"1", "1700000000", "1700000010", {{"1", "menu", "1700000001", ""}, {"2", "play", "1700000002", ""}}},
      {"2", "1700001000", "1700001030", {{"3", "menu", "1700001001", ""}}},
  };
  const std::vector<TestSession> twoDaysLater = {
      {"3", "1700172800", "1700172850", {{"4", "menu", "1700172801", ""}}},
      // A NUL (which PostgreSQL cannot keep) is stored as U+FFFD.
      {"4", "1700174400", "1700174470", {{"6", std::string("a\0b", 3), "1700174401", ""}}},
      {"5", "1700178400", "", {{"5", "play", "1700178401", ""}}},
  };
  std::string error;
  for (const auto& [sessions, device] : {std::pair{day1, older}, std::pair{twoDaysLater, TestDevice{}}}) {
    const auto upload = decodeUpload(uploadJson(sessions, device), error);
    ASSERT_TRUE(upload) << error;
    ASSERT_EQ(store->save(*upload, 1700200000).added, static_cast<int>(sessions.size()));
  }

  const Figures f = store->figures();
  EXPECT_EQ(f.sessions, 5);
  EXPECT_EQ(f.devices, 1);
  EXPECT_EQ(f.subSessions, 6);
  ASSERT_TRUE(f.medianSeconds);
  EXPECT_DOUBLE_EQ(*f.medianSeconds, 40.0) << "the middle of 10, 30, 50 and 70 s; the open session does not count";
  ASSERT_EQ(f.perDay.size(), 3u) << "the day between, without sessions, too";
  EXPECT_EQ(f.perDay[0].day, 1700000000 / 86400);
  EXPECT_EQ(f.perDay[0].sessions, 2);
  EXPECT_EQ(f.perDay[1].sessions, 0);
  EXPECT_EQ(f.perDay[2].sessions, 3);
  auto labels = [](const std::vector<Figures::Count>& counts) {
    std::vector<std::string> out;
    for (const auto& c : counts) out.push_back(c.label + "=" + std::to_string(c.count));
    return out;
  };
  EXPECT_EQ(labels(f.appVersions), (std::vector<std::string>{"0.1.0=3", "0.0.9=2"}));
  EXPECT_EQ(labels(f.machineTypes), (std::vector<std::string>{"x86_64=3", "aarch64=2"}));
  EXPECT_EQ(labels(f.subSessionNames), (std::vector<std::string>{"menu=3", "play=2", "a\xEF\xBF\xBD" "b=1"}));
  ASSERT_EQ(f.latest.size(), 5u);
  EXPECT_EQ(f.latest[0].started, 1700178400);
  EXPECT_FALSE(f.latest[0].stopped);
  EXPECT_EQ(f.latest[0].subSessions, 1);
  EXPECT_EQ(f.latest[4].started, 1700000000);
  EXPECT_EQ(f.latest[4].appVersion, "0.0.9");
}

// The same sessions listed in opposite orders, sent to two collectors on one database at once:
// every upload is stored, none is answered with a failure.
TEST_P(Store, CollectorsWritingReorderedUploadsAtOnceAllSucceed) {
  // Both with the collector's own lock wait, not the test database's short one.
  const auto oneStore = openSessionStore(database->where());
  const auto otherStore = openSessionStore(database->where());
  RunningService one(oneStore.get());
  RunningService other(otherStore.get());
  std::vector<TestSession> sessions;
  for (int i = 0; i < 25; ++i) {
    const std::string start = std::to_string(1700000000 + i * 100);
    sessions.push_back({std::to_string(i + 1), start, "", {{"1", "menu", start, ""}, {"2", "play", start, ""}}});
  }
  std::vector<std::thread> senders;
  for (int sender = 0; sender < 4; ++sender) {
    senders.emplace_back([&, sender] {
      for (int round = 0; round < 10; ++round) {
        std::vector<TestSession> order = sessions;
        if ((sender + round) % 2 == 1) std::reverse(order.begin(), order.end());
        TestDevice device;
        device.id = "device-" + std::to_string(round);
        const auto answer = (sender % 2 ? other : one).post(uploadBody(order, device));
        if (!answer || answer->body != "success") ADD_FAILURE() << (answer ? answer->body : "no answer");
      }
    });
  }
  for (auto& t : senders) t.join();
  EXPECT_EQ(count("session"), "250");
  EXPECT_EQ(count("sub_session"), "500");
}

INSTANTIATE_TEST_SUITE_P(Databases, Store, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& p) { return p.param; });

// A device whose clock is wrong cannot break or skew the page: its sessions are counted and
// listed as "clock wrong", left out of the chart and the median, and the latest are the last received.
TEST(Dashboard, TimesThatCannotBeTrueAreShownAsClockWrong) {
  std::string skip;
  const auto database = TestDatabase::create("sqlite", skip);
  const auto store = database->store();
  const std::int64_t received = 1700200000;  // 2023-11-17
  struct Sent {
    const char* started;
    const char* stopped;
    std::string model;
  };
  const Sent sent[] = {
      {"1700100000", "1700100060", "believable"},
      {"9223372036854775807", "", "far future"},
      {"4102444800", "4102444860", "year 2100"},
      {"1700200000", "9223372036854775807", "endless"},
      {"86400", "86460", "1970"},
      {"1700100500", "1700100620", std::string(500, 'L')},
  };
  std::string error;
  int id = 0;
  for (const Sent& s : sent) {
    TestDevice device;
    device.model = s.model.substr(0, 200);
    const auto upload = decodeUpload(uploadJson({{std::to_string(++id), s.started, s.stopped, {}}}, device), error);
    ASSERT_TRUE(upload) << error;
    store->save(*upload, received + id);
  }
  const Figures f = store->figures();
  EXPECT_EQ(f.sessions, 6);
  EXPECT_EQ(f.clockWrong, 3);
  ASSERT_EQ(f.perDay.size(), 2u);
  EXPECT_EQ(f.perDay.back().day, 1700200000 / 86400) << "the chart ends at the newest believable day";
  ASSERT_TRUE(f.medianSeconds);
  EXPECT_DOUBLE_EQ(*f.medianSeconds, 90.0) << "60 s and 120 s; the endless one is not believed";
  std::vector<std::string> latest;
  for (const auto& s : f.latest) latest.push_back(s.deviceModel.substr(0, 10) + ": " + startedText(s) + ", " + sessionLengthText(s));
  EXPECT_EQ(latest, (std::vector<std::string>{"LLLLLLLLLL: 2023-11-16 02:08, 2 min 0 s", "1970: clock wrong, clock wrong",
                                              "endless: 2023-11-17 05:46, clock wrong",
                                              "year 2100: clock wrong, clock wrong", "far future: clock wrong, not ended",
                                              "believable: 2023-11-16 02:00, 1 min 0 s"}));
  const std::string page = dashboardPage(f, store->describe());
  EXPECT_NE(page.find("id=\"clock-wrong\">3<"), std::string::npos);
  EXPECT_NE(page.find(std::string(60, 'L') + "\xE2\x80\xA6<"), std::string::npos) << "long texts are cut";
  EXPECT_EQ(page.find(std::string(61, 'L')), std::string::npos);
}

// Another process holding the SQLite file's write lock: the upload fails instead of waiting forever,
// and succeeds once the lock is gone.
TEST(SqliteStore, ALockedDatabaseFileIsAFailureNotASuccess) {
  std::string skip;
  const auto database = TestDatabase::create("sqlite", skip);
  const auto store = database->store();
  RunningService service(store.get());
  // The transaction holds the write lock from its start.
  database->raw()->transaction([&](SqlConnection&) {
    const auto answer = service.post(uploadBody({kFirst}));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 503);
    EXPECT_NE(answer->body, "success");
  });
  EXPECT_EQ(service.post(uploadBody({kFirst}))->body, "success");
  EXPECT_EQ(database->rows("SELECT COUNT(*) FROM session")[0], "1");
}

// Transactions queued behind a running commit are committed together; one that fails is left
// out and the others are stored.
TEST(SqliteStore, ATransactionFailingInAGroupCommitTakesNoOtherWithIt) {
  TempDir dir;
  const auto database = openSqlite(dir.file("group.sqlite"));
  database->transaction([](SqlConnection& c) { c.query("CREATE TABLE t (v INTEGER)"); });
  std::promise<void> queued;
  std::thread first([&] {
    database->transaction([&](SqlConnection& c) {
      c.query("INSERT INTO t VALUES (1)");
      queued.get_future().wait();  // the others queue up meanwhile
    });
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::vector<std::thread> others;
  std::atomic<int> failed{0};
  for (int v = 2; v <= 5; ++v) {
    others.emplace_back([&, v] {
      try {
        database->transaction([&](SqlConnection& c) {
          c.query("INSERT INTO t VALUES ($1)", {std::int64_t{v}});
          if (v == 3) c.query("INSERT INTO no_such_table VALUES (1)");
        });
      } catch (const DatabaseError&) {
        ++failed;
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  queued.set_value();
  first.join();
  for (auto& t : others) t.join();
  EXPECT_EQ(failed, 1);
  std::vector<std::string> values;
  database->snapshot([&](SqlConnection& c) {
    for (const auto& row : c.query("SELECT v FROM t ORDER BY v")) values.push_back(row[0].value_or(""));
  });
  EXPECT_EQ(values, (std::vector<std::string>{"1", "2", "4", "5"}));
}

}  // namespace
