#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "Classes/Utils/Database/BeaconDatabase.h"
#include "StoreFixture.h"
#include "platform/NSException.h"

namespace {

const JSONDictionary& asDictionary(const JSONValue& value) {
  const auto* dictionary = value.get<JSONDictionary>();
  if (!dictionary) throw std::runtime_error("not a dictionary");
  return *dictionary;
}

const JSONArray& asArray(const JSONValue* value) {
  const auto* array = value ? value->get<JSONArray>() : nullptr;
  if (!array) throw std::runtime_error("not a list");
  return *array;
}

class BeaconStore : public StoreFixture {
 protected:
  void SetUp() override {
    store = BeaconDatabase::initWithApplicationCode("app");
    ASSERT_TRUE(store);
  }
  RawConnection raw() { return RawConnection(databaseFile("app")); }
  std::string count(const std::string& table) { return raw().scalar("SELECT COUNT(*) FROM " + table); }
  // The ids of a JSON array of records, as "1,2,3".
  static std::string ids(const JSONArray& records) {
    std::string out;
    for (const auto& record : records) {
      if (!out.empty()) out += ",";
      out += asDictionary(record).text("id");
    }
    return out;
  }

  std::shared_ptr<BeaconDatabase> store;
};

}  // namespace

TEST_F(BeaconStore, NewFileHasBothTablesAndNothingInThem) {
  EXPECT_EQ(raw().scalar("SELECT COUNT(*) FROM sqlite_master WHERE type='table' AND name IN ('beacon','sub_beacon')"), "2");
  EXPECT_TRUE(store->getBeaconsToSendWithBeaconRunning(false).empty());
  EXPECT_EQ(store->getCurrentRunningBeaconID(), 0);
  EXPECT_FALSE(store->getCurrentRunningBeacon());
  EXPECT_EQ(BeaconDatabase::shared(), store);
}

TEST_F(BeaconStore, TablesAreCreatedExactlyAsWritten) {
  EXPECT_EQ(raw().scalar("SELECT sql FROM sqlite_master WHERE name='beacon'"),
            "CREATE TABLE beacon (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, time_started TEXT NOT NULL, "
            "time_stopped TEXT, latitude REAL, longitude REAL)");
  EXPECT_EQ(raw().scalar("SELECT sql FROM sqlite_master WHERE name='sub_beacon'"),
            "CREATE TABLE sub_beacon (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, beacon_id INTEGER NOT NULL, "
            "is_session BOOL NOT NULL, name TEXT NOT NULL, time_started TEXT NOT NULL, time_stopped TEXT)");
}

TEST_F(BeaconStore, CreatingTheTablesAgainChangesNothing) {
  store->startNewBeacon();
  store->startNewSubBeaconWithName("s", true);
  store->createTableIfNeeded();
  EXPECT_EQ(count("beacon"), "1");
  EXPECT_EQ(count("sub_beacon"), "1");
}

TEST_F(BeaconStore, RunningBeaconIsTheLargestRunningId) {
  for (int i = 0; i < 5; ++i) store->startNewBeacon();
  raw().exec("UPDATE beacon SET time_stopped='1' WHERE id IN (1,2,4)");
  EXPECT_EQ(store->getCurrentRunningBeaconID(), 5);
  store->endBeacon();
  EXPECT_NE(raw().scalar("SELECT time_stopped FROM beacon WHERE id=5"), "<null>");
  EXPECT_EQ(raw().scalar("SELECT time_stopped FROM beacon WHERE id=3"), "<null>");
  EXPECT_EQ(store->getCurrentRunningBeaconID(), 3);
  EXPECT_EQ(store->getCurrentRunningBeacon()->text("id"), "3");
}

TEST_F(BeaconStore, SubBeaconWithoutRunningBeaconGetsBeaconZeroAndItsWholeName) {
  const std::string name(40, 'n');
  store->startNewSubBeaconWithName(name, false);
  EXPECT_EQ(raw().scalar("SELECT beacon_id FROM sub_beacon"), "0");
  EXPECT_EQ(raw().scalar("SELECT name FROM sub_beacon"), name);
  EXPECT_EQ(raw().scalar("SELECT is_session FROM sub_beacon"), "0");
}

TEST_F(BeaconStore, TimedAndUntimedEndings) {
  store->startNewBeacon();
  store->startNewSubBeaconWithName("untimed", false);
  store->startNewSubBeaconWithName("timed", true);
  store->endSubBeaconWithName("untimed");
  store->endSubBeaconWithName("TIMED");  // names are compared exactly
  EXPECT_EQ(raw().scalar("SELECT COUNT(*) FROM sub_beacon WHERE time_stopped IS NULL"), "2");
  store->endSubBeaconWithName("timed");
  EXPECT_EQ(raw().scalar("SELECT name FROM sub_beacon WHERE time_stopped IS NULL"), "untimed");
  store->endBeacon();
  EXPECT_EQ(raw().scalar("SELECT COUNT(*) FROM sub_beacon WHERE time_stopped IS NULL"), "0");
}

TEST_F(BeaconStore, EndingByIdAndByParentEndsTimedOnes) {
  store->startNewBeacon();
  store->startNewSubBeaconWithName("a", true);
  store->startNewSubBeaconWithName("b", true);
  store->startNewSubBeaconWithName("c", false);
  EXPECT_EQ(store->getCurrentRunningSubBeaconIDForParent(1), 3);
  store->endSubBeaconWithID(1);
  store->endSubBeaconWithID(3);  // untimed: stays open
  EXPECT_EQ(raw().scalar("SELECT group_concat(id) FROM sub_beacon WHERE time_stopped IS NULL"), "2,3");
  store->endSubBeaconsForParentID(1);
  EXPECT_EQ(raw().scalar("SELECT group_concat(id) FROM sub_beacon WHERE time_stopped IS NULL"), "3");
  EXPECT_EQ(store->getCurrentRunningSubBeaconIDForParent(1), 3);
  EXPECT_EQ(store->getCurrentRunningSubBeaconIDForParent(99), 0);
}

TEST_F(BeaconStore, EqualNamesInDifferentBeaconsAreBothEnded) {
  store->startNewBeacon();
  store->startNewSubBeaconWithName("level", true);
  store->startNewBeacon();
  store->startNewSubBeaconWithName("level", true);
  EXPECT_EQ(raw().scalar("SELECT group_concat(beacon_id) FROM sub_beacon"), "1,2");
  store->endSubBeaconWithName("level");
  EXPECT_EQ(raw().scalar("SELECT COUNT(*) FROM sub_beacon WHERE time_stopped IS NULL"), "0");
}

TEST_F(BeaconStore, RecordsAreAllTextInAscendingIdOrder) {
  store->startNewBeacon();
  store->startNewSubBeaconWithName("one", true);
  store->startNewSubBeaconWithName("two", false);
  store->endBeacon();
  store->startNewBeacon();
  store->updateLocationWithLatitude(52.5, -13.25);
  store->startNewBeacon();  // running, no location

  const JSONArray records = store->getBeaconsToSendWithBeaconRunning(false);
  ASSERT_EQ(ids(records), "1,2,3");
  const auto& first = asDictionary(records[0]);
  std::vector<std::string> keys;
  for (const auto& [key, value] : first) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"id", "time_started", "time_stopped", "latitude", "longitude", "subbeacons"}));
  EXPECT_FALSE(first.text("time_started").empty());
  EXPECT_FALSE(first.text("time_stopped").empty());

  const auto& subs = asArray(first.find("subbeacons"));
  ASSERT_EQ(ids(subs), "1,2");
  const auto& sub = asDictionary(subs[0]);
  keys.clear();
  for (const auto& [key, value] : sub) {
    keys.push_back(key);
    EXPECT_TRUE(value.get<std::string>()) << key;
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"id", "beacon_id", "name", "time_started", "time_stopped", "is_session"}));
  EXPECT_EQ(sub.text("beacon_id"), "1");
  EXPECT_EQ(sub.text("name"), "one");
  EXPECT_EQ(sub.text("is_session"), "1");
  EXPECT_EQ(asDictionary(subs[1]).text("is_session"), "0");

  const auto& located = asDictionary(records[1]);
  EXPECT_EQ(located.text("latitude"), "52.5");
  EXPECT_EQ(located.text("longitude"), "-13.25");
  EXPECT_TRUE(asArray(located.find("subbeacons")).empty());

  const auto running = store->getCurrentRunningBeacon();
  ASSERT_TRUE(running);
  EXPECT_EQ(running->text("id"), "3");
  EXPECT_EQ(running->text("time_stopped"), "");
  EXPECT_EQ(running->text("latitude"), "");
  EXPECT_EQ(running->text("longitude"), "");
  EXPECT_FALSE(running->find("subbeacons"));

  EXPECT_EQ(ids(store->getBeaconsToSendWithBeaconRunning(true)), "3");
}

TEST_F(BeaconStore, LocationOverwritesOnlyTheRunningBeacon) {
  store->updateLocationWithLatitude(1, 1);  // none running: no row changes
  store->startNewBeacon();
  store->updateLocationWithLatitude(1, 2);
  store->updateLocationWithLatitude(3, 4);
  EXPECT_EQ(raw().scalar("SELECT latitude || ',' || longitude FROM beacon"), "3.0,4.0");
}

TEST_F(BeaconStore, DeleteWithRunningKeepsOnlyTheRunningBeaconsRows) {
  for (int i = 0; i < 7; ++i) {
    store->startNewBeacon();
    store->startNewSubBeaconWithName("s" + std::to_string(i), true);
    if (i < 6) store->endBeacon();
  }
  store->deleteBeaconsWithBeaconRunning(true);
  EXPECT_EQ(raw().scalar("SELECT group_concat(id) FROM beacon"), "7");
  EXPECT_EQ(raw().scalar("SELECT group_concat(beacon_id) FROM sub_beacon"), "7");
}

TEST_F(BeaconStore, DeleteWithoutRunningEmptiesBothTablesAndIdsKeepGrowing) {
  store->startNewBeacon();
  store->startNewSubBeaconWithName("s", true);
  store->startNewBeacon();
  store->deleteBeaconsWithBeaconRunning(false);
  EXPECT_EQ(count("beacon"), "0");
  EXPECT_EQ(count("sub_beacon"), "0");
  store->startNewBeacon();
  store->startNewSubBeaconWithName("t", true);
  EXPECT_EQ(store->getCurrentRunningBeaconID(), 3);
  EXPECT_EQ(raw().scalar("SELECT id FROM sub_beacon"), "2");
}

TEST_F(BeaconStore, BoundedReadGivesTheOldestBeaconsFirst) {
  for (int i = 0; i < 5; ++i) {
    store->startNewBeacon();
    store->startNewSubBeaconWithName("s", true);
    store->endBeacon();
  }
  store->startNewBeacon();
  EXPECT_EQ(ids(store->getBeaconsToSendWithBeaconRunning(false, 2)), "1,2");
  EXPECT_EQ(ids(store->getBeaconsToSendWithBeaconRunning(false, 100)), "1,2,3,4,5,6");
  EXPECT_EQ(ids(store->getBeaconsToSendWithBeaconRunning(false, 0)), "");
  EXPECT_EQ(ids(store->getBeaconsToSendWithBeaconRunning(true, 2)), "6");
  const auto first = store->getBeaconsToSendWithBeaconRunning(false, 1);
  EXPECT_EQ(asArray(asDictionary(first[0]).find("subbeacons")).size(), 1u);
}

namespace {
// What happens to the store between an upload's read and the delete after its "success".
struct AfterTheRead {
  const char* name;
  void (*change)(BeaconDatabase& store);
  const char* beaconsLeft;
  const char* subBeaconParentsLeft;
};
class DeleteSent : public BeaconStore, public ::testing::WithParamInterface<AfterTheRead> {};
}  // namespace

TEST_P(DeleteSent, RemovesExactlyTheCarriedRows) {
  // Beacons 1 and 2 ended, 3 running (another run's); one sub-beacon each.
  for (int i = 0; i < 3; ++i) {
    store->startNewBeacon();
    store->startNewSubBeaconWithName("s", true);
    if (i < 2) store->endBeacon();
  }
  const auto sent = BeaconDatabase::sentBeacons(store->getBeaconsToSendWithBeaconRunning(false, 100));
  ASSERT_EQ(sent.size(), 3u);
  GetParam().change(*store);
  store->deleteSentBeacons(sent);
  EXPECT_EQ(raw().scalar("SELECT ifnull(group_concat(id), '') FROM beacon"), GetParam().beaconsLeft);
  EXPECT_EQ(raw().scalar("SELECT ifnull(group_concat(beacon_id), '') FROM sub_beacon"), GetParam().subBeaconParentsLeft);
}

INSTANTIATE_TEST_SUITE_P(
    BeaconStore, DeleteSent,
    ::testing::Values(AfterTheRead{"NothingChanged", [](BeaconDatabase&) {}, "", ""},
                      // Its end was never sent: it stays, to go again with it.
                      AfterTheRead{"CarriedRunningBeaconEnded", [](BeaconDatabase& s) { s.endBeacon(); }, "3", "3"},
                      AfterTheRead{"NewBeaconEnded",
                                   [](BeaconDatabase& s) {
                                     s.startNewBeacon();
                                     s.startNewSubBeaconWithName("new", true);
                                     s.endBeacon();
                                   },
                                   "4", "4"}),
    [](const ::testing::TestParamInfo<AfterTheRead>& row) { return std::string(row.param.name); });

TEST_F(BeaconStore, DeleteSentOnABusyStoreKeepsEverything) {
  store->startNewBeacon();
  store->endBeacon();
  const auto sent = BeaconDatabase::sentBeacons(store->getBeaconsToSendWithBeaconRunning(false, 100));
  RawConnection other(databaseFile("app"));
  ASSERT_EQ(other.exec("BEGIN IMMEDIATE"), SQLITE_OK);
  EXPECT_NO_THROW(store->deleteSentBeacons(sent));
  other.exec("COMMIT");
  EXPECT_EQ(count("beacon"), "1");
  store->deleteSentBeacons(sent);  // the next "success" takes it
  EXPECT_EQ(count("beacon"), "0");
}

TEST_F(BeaconStore, SecondCreationReturnsTheFirstStore) {
  auto second = BeaconDatabase::initWithApplicationCode("other");
  EXPECT_EQ(second, store);
  EXPECT_EQ(second->applicationCode(), "app");
  EXPECT_FALSE(std::filesystem::exists(databaseFile("other")));
}

TEST_F(BeaconStore, DestroyedStoreIsNoLongerShared) {
  store.reset();
  EXPECT_FALSE(BeaconDatabase::shared());
  // A new store can be made afterwards, on the same file.
  auto again = BeaconDatabase::initWithApplicationCode("app");
  ASSERT_TRUE(again);
  EXPECT_EQ(BeaconDatabase::shared(), again);
}

TEST_F(BeaconStore, BusyDatabaseRaisesNothingAndChangesNothing) {
  store->startNewBeacon();
  RawConnection locker(databaseFile("app"));
  ASSERT_EQ(locker.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
  EXPECT_NO_THROW(store->startNewBeacon());
  EXPECT_NO_THROW(store->endBeacon());
  EXPECT_NO_THROW(store->startNewSubBeaconWithName("busy", true));
  EXPECT_EQ(store->getCurrentRunningBeaconID(), -1);
  locker.exec("COMMIT");
  EXPECT_EQ(count("beacon"), "1");
  EXPECT_EQ(raw().scalar("SELECT time_stopped FROM beacon WHERE id=1"), "<null>");
  EXPECT_EQ(count("sub_beacon"), "0");
  EXPECT_EQ(store->getCurrentRunningBeaconID(), 1);
}

TEST_F(BeaconStore, BusyRunningBeaconQueryHoldsNoLockAfterwards) {
  store->startNewBeacon();
  RawConnection other(databaseFile("app"));
  ASSERT_EQ(other.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
  EXPECT_EQ(store->getCurrentRunningBeaconID(), -1);
  ASSERT_EQ(other.exec("COMMIT"), SQLITE_OK);
  // A write of the store's own ends its transaction; a statement left half-run would keep it open
  // for reading, and the file locked against every other writer.
  store->startNewBeacon();
  EXPECT_EQ(other.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
  other.exec("COMMIT");
}

TEST_F(BeaconStore, EveryOperationTakesTheLock) {
  // Two threads at once: without the lock they would share the kept statement.
  auto work = [this](const std::string& name) {
    for (int i = 0; i < 40; ++i) {
      store->startNewSubBeaconWithName(name, true);
      store->getBeaconsToSendWithBeaconRunning(false);
    }
  };
  store->startNewBeacon();
  std::thread a(work, "a");
  std::thread b(work, "b");
  a.join();
  b.join();
  EXPECT_EQ(raw().scalar("SELECT COUNT(*) FROM sub_beacon WHERE beacon_id=1"), "80");
}

using BeaconStoreFailures = StoreFixture;

TEST_F(BeaconStoreFailures, CorruptFileFailsAtTheFirstStatementAndRegistersNothing) {
  std::filesystem::create_directories(documents() + "/tallyhive");
  std::ofstream(databaseFile("bad")) << std::string(4096, 'x');
  try {
    BeaconDatabase::initWithApplicationCode("bad");
    FAIL() << "no exception";
  } catch (const NSAssertionFailure& e) {
    EXPECT_EQ(e.description(), "Error: failed to prepare statement with message 'file is not a database'.");
    EXPECT_EQ(e.file(), "Classes/Utils/Database/BeaconDatabase.cpp");
    EXPECT_EQ(e.operation(), "BeaconDatabase::createTableIfNeeded");
  }
  EXPECT_FALSE(BeaconDatabase::shared());
}

TEST_F(BeaconStoreFailures, UnwritableDirectoryRegistersNothing) {
  std::ofstream(documents()) << "not a directory";
  EXPECT_THROW(BeaconDatabase::initWithApplicationCode("app"), NSAssertionFailure);
  EXPECT_FALSE(BeaconDatabase::shared());
}

TEST_F(BeaconStoreFailures, MissingTableIsReportedWithTheOperationsMessage) {
  auto store = BeaconDatabase::initWithApplicationCode("app");
  RawConnection(databaseFile("app")).exec("DROP TABLE sub_beacon");
  try {
    store->getBeaconsToSendWithBeaconRunning(false);
    store->startNewBeacon();
    store->getBeaconsToSendWithBeaconRunning(false);
    FAIL() << "no exception";
  } catch (const NSAssertionFailure& e) {
    EXPECT_EQ(e.description(), "Error: failed to generate sql request with message 'no such table: sub_beacon'.");
  }
  // The lock was released as the failure left: the store still works.
  EXPECT_EQ(store->getCurrentRunningBeaconID(), 1);
}
