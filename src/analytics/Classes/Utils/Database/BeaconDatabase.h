#pragma once
// The beacon store: usage sessions (beacons) and their named sub-sessions (sub-beacons) in the
// tables `beacon` and `sub_beacon`, handed out as ordered dictionaries of texts. One store per
// process; every operation holds the store's recursive lock.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Classes/Utils/Database/Database.h"
#include "JSONValue.h"

struct sqlite3_stmt;

class BeaconDatabase : public TH_Database {
 public:
  // The registered store when there is one (the code is then ignored and nothing is opened);
  // otherwise opens the file, creates the tables and registers the new store. Failures are
  // raised and leave nothing registered. The store stays registered while it lives.
  static std::shared_ptr<BeaconDatabase> initWithApplicationCode(std::optional<std::string> code);
  // The registered store, or none.
  static std::shared_ptr<BeaconDatabase> shared();

  ~BeaconDatabase() override;

  void createTableIfNeeded();
  void startNewBeacon();
  void startNewSubBeaconWithName(const std::string& name, bool timeSession);
  void updateLocationWithLatitude(double latitude, double longitude);
  void endBeacon();
  void endSubBeaconWithName(const std::string& name);
  void endSubBeaconWithID(std::int32_t subBeaconId);
  void endSubBeaconsForParentID(std::int32_t beaconId);

  // The largest running beacon id; 0 when none runs, -1 when the query fails.
  std::int32_t getCurrentRunningBeaconID();
  std::int32_t getCurrentRunningSubBeaconIDForParent(std::int32_t beaconId);
  // The running beacon's record without `subbeacons`, or none.
  std::optional<JSONDictionary> getCurrentRunningBeacon();
  JSONArray getCurrentRunningSubBeaconForId(std::int32_t beaconId);
  // Records with `subbeacons`: only the running beacon's when `running`, else every beacon.
  JSONArray getBeaconsToSendWithBeaconRunning(bool running);
  // After an accepted upload: all but the running beacon's rows when `running`, else everything.
  void deleteBeaconsWithBeaconRunning(bool running);

  // As above, but at most `limit` beacons, oldest first, so a large backlog goes out in parts.
  JSONArray getBeaconsToSendWithBeaconRunning(bool running, std::size_t limit);
  // A beacon as an upload carried it: its id and its `time_stopped` then (empty while it ran).
  struct SentBeacon {
    std::int64_t id = 0;
    std::string timeStopped;
  };
  static std::vector<SentBeacon> sentBeacons(const JSONArray& records);
  // After an accepted upload: exactly the beacons it carried, each with its sub-beacons, in one
  // transaction. Rows another process added since are kept, and so is a carried beacon that has
  // ended since (it goes again, with its end). A busy store keeps everything for the next upload.
  void deleteSentBeacons(const std::vector<SentBeacon>& sent);

 private:
  explicit BeaconDatabase(std::optional<std::string> code);

  sqlite3_stmt* prepare(const char* sql, const char* operation, int line, const char* failureFormat);
  void stepOnce(sqlite3_stmt* statement, const char* operation, int line, const char* failureFormat);
  void createTables(const char* operation);
  [[noreturn]] void fail(const char* operation, int line, const char* format);
  std::int32_t readRunningId(sqlite3_stmt* statement);
  JSONDictionary beaconRecord(sqlite3_stmt* statement);
  JSONArray readBeaconsWithSubBeacons(sqlite3_stmt* statement);
  // One step of a statement that is kept: SQLITE_ERROR is reported, anything but a row resets it.
  bool stepKept(sqlite3_stmt* statement, const char* operation, int line, const char* failureFormat);

  std::recursive_mutex lock_;
  // The running-beacon query, kept prepared between calls (on this store's own connection).
  sqlite3_stmt* current_beacon_statement = nullptr;
};
