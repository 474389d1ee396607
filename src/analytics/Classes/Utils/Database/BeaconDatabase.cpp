#include "Classes/Utils/Database/BeaconDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>

#include "platform/NSException.h"

namespace {

constexpr const char* kSourceFile = "Classes/Utils/Database/BeaconDatabase.cpp";

constexpr const char* kPrepareFailed = "Error: failed to prepare statement with message '%s'.";
constexpr const char* kRequestFailed = "Error: failed to generate sql request with message '%s'.";
constexpr const char* kCreateFailed = "Error: failed to create beacon table with message '%s'.";
constexpr const char* kStartFailed = "Error: failed to start new beacon with message '%s'.";
constexpr const char* kLocationFailed = "Error: failed to update beacon location with message '%s'.";
constexpr const char* kEndFailed = "Error: failed to end beacon with message '%s'.";
constexpr const char* kDeleteFailed = "Error: failed to delete beacons with message '%s'.";

constexpr const char* kSelectBeacon =
    "SELECT id, time_started, time_stopped, latitude, longitude FROM beacon WHERE id=?";
constexpr const char* kSelectBeacons = "SELECT id, time_started, time_stopped, latitude, longitude FROM beacon";
// The bounded upload's read (the plain scan above is in id order too; here it must be).
constexpr const char* kSelectOldestBeacons =
    "SELECT id, time_started, time_stopped, latitude, longitude FROM beacon ORDER BY id LIMIT ?";
// The exact delete: a carried beacon only while its end is as it was sent.
constexpr const char* kDeleteSentBeacon = "DELETE FROM beacon WHERE id=? AND time_stopped IS ?";
constexpr const char* kDeleteSentSubBeacons = "DELETE FROM sub_beacon WHERE beacon_id=?";

// Finalizes a statement however the operation ends.
class Finalizer {
 public:
  explicit Finalizer(sqlite3_stmt* statement) : statement_(statement) {}
  ~Finalizer() { sqlite3_finalize(statement_); }
  Finalizer(const Finalizer&) = delete;
  Finalizer& operator=(const Finalizer&) = delete;

 private:
  sqlite3_stmt* statement_;
};

std::string columnText(sqlite3_stmt* statement, int column) {
  const auto* text = sqlite3_column_text(statement, column);
  if (!text) return {};
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(statement, column)));
}

// The leading decimal digits of an id text.
std::int32_t leadingInteger(const std::string& text) {
  std::int32_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::recursive_mutex registryMutex;
std::weak_ptr<BeaconDatabase> registry;
const BeaconDatabase* registered = nullptr;

}  // namespace

BeaconDatabase::BeaconDatabase(std::optional<std::string> code) : TH_Database(std::move(code)) {}

BeaconDatabase::~BeaconDatabase() {
  {
    std::lock_guard lock(lock_);
    sqlite3_finalize(current_beacon_statement);
    current_beacon_statement = nullptr;
  }
  // The registry never points at a destroyed store.
  std::lock_guard lock(registryMutex);
  if (registered == this) {
    registered = nullptr;
    registry.reset();
  }
}

std::shared_ptr<BeaconDatabase> BeaconDatabase::initWithApplicationCode(std::optional<std::string> code) {
  std::lock_guard lock(registryMutex);
  if (auto existing = registry.lock()) return existing;
  std::shared_ptr<BeaconDatabase> store(new BeaconDatabase(std::move(code)));
  store->createTableIfNeeded();
  registry = store;
  registered = store.get();
  return store;
}

std::shared_ptr<BeaconDatabase> BeaconDatabase::shared() {
  std::lock_guard lock(registryMutex);
  return registry.lock();
}

void BeaconDatabase::fail(const char* operation, int line, const char* format) {
  const char* message = sqlite3_errmsg(database);
  const int needed = std::snprintf(nullptr, 0, format, message);
  std::string text(static_cast<size_t>(needed > 0 ? needed : 0) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, message);
  text.resize(text.size() - 1);
  handleFailureInMethod(operation, this, kSourceFile, line, text);
}

sqlite3_stmt* BeaconDatabase::prepare(const char* sql, const char* operation, int line, const char* failureFormat) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(database, sql, -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    fail(operation, line, failureFormat);
  }
  return statement;
}

// One step, then finalize. Only SQLITE_ERROR is a failure: busy, constraint and the rest count as
// done, as the store has always treated them.
void BeaconDatabase::stepOnce(sqlite3_stmt* statement, const char* operation, int line, const char* failureFormat) {
  const int result = sqlite3_step(statement);
  sqlite3_finalize(statement);
  if (result == SQLITE_ERROR) fail(operation, line, failureFormat);
}

void BeaconDatabase::createTableIfNeeded() {
  std::lock_guard lock(lock_);
  constexpr const char* op = "BeaconDatabase::createTableIfNeeded";
  // One transaction: a new store costs one synced commit instead of three. When another
  // process holds the file, the statements go one by one, as they always did.
  const bool grouped = sqlite3_exec(database, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  try {
    createTables(op);
  } catch (...) {
    if (grouped) sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  if (grouped && sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    // A reader kept the commit out: undone, and done the old way.
    sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
    createTables(op);
  }
}

void BeaconDatabase::createTables(const char* op) {
  stepOnce(prepare("CREATE TABLE IF NOT EXISTS beacon (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, "
                   "time_started TEXT NOT NULL, time_stopped TEXT, latitude REAL, longitude REAL)",
                   op, __LINE__, kPrepareFailed),
           op, __LINE__, kCreateFailed);
  stepOnce(prepare("CREATE TABLE IF NOT EXISTS sub_beacon (id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, "
                   "beacon_id INTEGER NOT NULL, is_session BOOL NOT NULL, name TEXT NOT NULL, "
                   "time_started TEXT NOT NULL, time_stopped TEXT)",
                   op, __LINE__, kPrepareFailed),
           op, __LINE__, kCreateFailed);
  // Reading a beacon's sub-beacons would otherwise scan the whole table once per beacon.
  stepOnce(prepare("CREATE INDEX IF NOT EXISTS sub_beacon_beacon_id ON sub_beacon (beacon_id)", op, __LINE__,
                   kPrepareFailed),
           op, __LINE__, kCreateFailed);
}

void BeaconDatabase::startNewBeacon() {
  std::lock_guard lock(lock_);
  constexpr const char* op = "BeaconDatabase::startNewBeacon";
  stepOnce(prepare("INSERT INTO beacon (time_started) VALUES (strftime('%s','now'))", op, __LINE__, kPrepareFailed),
           op, __LINE__, kStartFailed);
}

void BeaconDatabase::startNewSubBeaconWithName(const std::string& name, bool timeSession) {
  std::lock_guard lock(lock_);
  constexpr const char* op = "BeaconDatabase::startNewSubBeaconWithName";
  const std::int32_t beaconId = getCurrentRunningBeaconID();
  sqlite3_stmt* statement = prepare(
      "INSERT INTO sub_beacon (beacon_id, name, time_started, is_session) VALUES (?, ?, strftime('%s','now'), ?)",
      op, __LINE__, kPrepareFailed);
  sqlite3_bind_int(statement, 1, beaconId);
  sqlite3_bind_text(statement, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int(statement, 3, timeSession ? 1 : 0);
  stepOnce(statement, op, __LINE__, kStartFailed);
}

void BeaconDatabase::updateLocationWithLatitude(double latitude, double longitude) {
  std::lock_guard lock(lock_);
  constexpr const char* op = "BeaconDatabase::updateLocationWithLatitude";
  const std::int32_t beaconId = getCurrentRunningBeaconID();
  sqlite3_stmt* statement = prepare("UPDATE beacon SET latitude=?, longitude=? WHERE id=?", op, __LINE__, kPrepareFailed);
  sqlite3_bind_double(statement, 1, latitude);
  sqlite3_bind_double(statement, 2, longitude);
  sqlite3_bind_int(statement, 3, beaconId);
  stepOnce(statement, op, __LINE__, kLocationFailed);
}

void BeaconDatabase::endBeacon() {
  std::lock_guard lock(lock_);
  constexpr const char* op = "BeaconDatabase::endBeacon";
  const std::int32_t beaconId = getCurrentRunningBeaconID();
  sqlite3_stmt* statement =
      prepare("UPDATE beacon SET time_stopped = strftime('%s','now') WHERE id=?", op, __LINE__, kPrepareFailed);
  sqlite3_bind_int(statement, 1, beaconId);
  stepOnce(statement, op, __LINE__, kEndFailed);
  statement = prepare("UPDATE sub_beacon SET time_stopped = strftime('%s', 'now') WHERE beacon_id=? and time_stopped ISNULL",
                      op, __LINE__, kPrepareFailed);
  sqlite3_bind_int(statement, 1, beaconId);
  stepOnce(statement, op, __LINE__, kEndFailed);
}

void BeaconDatabase::endSubBeaconWithName(const std::string& name) {
  std::lock_guard lock(lock_);
  constexpr const char* op = "BeaconDatabase::endSubBeaconWithName";
  sqlite3_stmt* statement = prepare(
      "UPDATE sub_beacon SET time_stopped = strftime('%s', 'now') WHERE name=? and is_session=1 and time_stopped ISNULL",
      op, __LINE__, kPrepareFailed);
  sqlite3_bind_text(statement, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  stepOnce(statement, op, __LINE__, kEndFailed);
}

void BeaconDatabase::endSubBeaconWithID(std::int32_t subBeaconId) {
  std::lock_guard lock(lock_);
  constexpr const char* op = "BeaconDatabase::endSubBeaconWithID";
  sqlite3_stmt* statement = prepare(
      "UPDATE sub_beacon SET time_stopped = strftime('%s', 'now') WHERE id=? and is_session=1 and time_stopped ISNULL",
      op, __LINE__, kPrepareFailed);
  sqlite3_bind_int(statement, 1, subBeaconId);
  stepOnce(statement, op, __LINE__, kEndFailed);
}

void BeaconDatabase::endSubBeaconsForParentID(std::int32_t beaconId) {
  std::lock_guard lock(lock_);
  constexpr const char* op = "BeaconDatabase::endSubBeaconsForParentID";
  sqlite3_stmt* statement = prepare(
      "UPDATE sub_beacon SET time_stopped = strftime('%s', 'now') WHERE beacon_id=? and is_session=1 and time_stopped ISNULL",
      op, __LINE__, kPrepareFailed);
  sqlite3_bind_int(statement, 1, beaconId);
  stepOnce(statement, op, __LINE__, kEndFailed);
}

// Step once and reset (a statement left finished by the previous call starts over), then read
// the aggregate's row.
std::int32_t BeaconDatabase::readRunningId(sqlite3_stmt* statement) {
  const int first = sqlite3_step(statement);
  sqlite3_reset(statement);
  if (first == SQLITE_ERROR) return -1;
  std::int32_t answer = -1;
  int result = SQLITE_DONE;
  while ((result = sqlite3_step(statement)) == SQLITE_ROW) answer = sqlite3_column_int(statement, 0);
  // A statement stopped half-way (busy, locked) still counts as an active reader: the store's next
  // write would then end in a read transaction, whose shared lock blocks every other process's
  // writes until the next call.
  if (result != SQLITE_DONE) sqlite3_reset(statement);
  return answer;
}

std::int32_t BeaconDatabase::getCurrentRunningBeaconID() {
  std::lock_guard lock(lock_);
  if (!current_beacon_statement) {
    current_beacon_statement = prepare("SELECT MAX(id) FROM beacon WHERE time_stopped IS NULL",
                                       "BeaconDatabase::getCurrentRunningBeaconID", __LINE__, kPrepareFailed);
  }
  return readRunningId(current_beacon_statement);
}

std::int32_t BeaconDatabase::getCurrentRunningSubBeaconIDForParent(std::int32_t beaconId) {
  std::lock_guard lock(lock_);
  char sql[128];
  std::snprintf(sql, sizeof sql, "SELECT MAX(id) FROM sub_beacon WHERE time_stopped IS NULL and beacon_id IS %d",
                beaconId);
  sqlite3_stmt* statement = prepare(sql, "BeaconDatabase::getCurrentRunningSubBeaconIDForParent", __LINE__, kPrepareFailed);
  Finalizer finalizer(statement);
  return readRunningId(statement);
}

JSONDictionary BeaconDatabase::beaconRecord(sqlite3_stmt* statement) {
  JSONDictionary record;
  record.reserve(6);
  record.set("id", columnText(statement, 0));
  record.set("time_started", columnText(statement, 1));
  record.set("time_stopped", columnText(statement, 2));
  record.set("latitude", columnText(statement, 3));
  record.set("longitude", columnText(statement, 4));
  return record;
}

JSONArray BeaconDatabase::getCurrentRunningSubBeaconForId(std::int32_t beaconId) {
  std::lock_guard lock(lock_);
  JSONArray records;
  sqlite3_stmt* statement = prepare(
      "SELECT id, beacon_id, time_started, time_stopped, is_session, name FROM sub_beacon WHERE beacon_id=?",
      "BeaconDatabase::getCurrentRunningSubBeaconForId", __LINE__, kRequestFailed);
  Finalizer finalizer(statement);
  sqlite3_bind_int(statement, 1, beaconId);
  while (sqlite3_step(statement) == SQLITE_ROW) {
    JSONDictionary record;
    record.reserve(6);
    record.set("id", columnText(statement, 0));
    record.set("beacon_id", columnText(statement, 1));
    record.set("name", columnText(statement, 5));
    record.set("time_started", columnText(statement, 2));
    record.set("time_stopped", columnText(statement, 3));
    record.set("is_session", columnText(statement, 4));
    records.emplace_back(std::move(record));
  }
  return records;
}

std::optional<JSONDictionary> BeaconDatabase::getCurrentRunningBeacon() {
  std::lock_guard lock(lock_);
  const std::int32_t beaconId = getCurrentRunningBeaconID();
  sqlite3_stmt* statement = prepare(kSelectBeacon, "BeaconDatabase::getCurrentRunningBeacon", __LINE__, kRequestFailed);
  Finalizer finalizer(statement);
  sqlite3_bind_int(statement, 1, beaconId);
  if (sqlite3_step(statement) != SQLITE_ROW) return std::nullopt;
  return beaconRecord(statement);
}

JSONArray BeaconDatabase::readBeaconsWithSubBeacons(sqlite3_stmt* statement) {
  JSONArray records;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    JSONDictionary record = beaconRecord(statement);
    record.set("subbeacons", getCurrentRunningSubBeaconForId(leadingInteger(record.text("id"))));
    records.emplace_back(std::move(record));
  }
  return records;
}

JSONArray BeaconDatabase::getBeaconsToSendWithBeaconRunning(bool running) {
  std::lock_guard lock(lock_);
  constexpr const char* op = "BeaconDatabase::getBeaconsToSendWithBeaconRunning";
  sqlite3_stmt* statement = nullptr;
  if (running) {
    const std::int32_t beaconId = getCurrentRunningBeaconID();
    statement = prepare(kSelectBeacon, op, __LINE__, kRequestFailed);
    sqlite3_bind_int(statement, 1, beaconId);
  } else {
    statement = prepare(kSelectBeacons, op, __LINE__, kRequestFailed);
  }
  Finalizer finalizer(statement);
  return readBeaconsWithSubBeacons(statement);
}

JSONArray BeaconDatabase::getBeaconsToSendWithBeaconRunning(bool running, std::size_t limit) {
  std::lock_guard lock(lock_);
  if (limit == 0) return {};
  if (running) return getBeaconsToSendWithBeaconRunning(true);
  constexpr const char* op = "BeaconDatabase::getBeaconsToSendWithBeaconRunning";
  sqlite3_stmt* statement = prepare(kSelectOldestBeacons, op, __LINE__, kRequestFailed);
  Finalizer finalizer(statement);
  sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(std::min<std::size_t>(limit, INT64_MAX)));
  return readBeaconsWithSubBeacons(statement);
}

void BeaconDatabase::deleteBeaconsWithBeaconRunning(bool running) {
  std::lock_guard lock(lock_);
  constexpr const char* op = "BeaconDatabase::deleteBeaconsWithBeaconRunning";
  if (running) {
    const std::int32_t beaconId = getCurrentRunningBeaconID();
    sqlite3_stmt* statement = prepare("DELETE FROM beacon WHERE id<>?", op, __LINE__, kRequestFailed);
    sqlite3_bind_int(statement, 1, beaconId);
    stepOnce(statement, op, __LINE__, kDeleteFailed);
    statement = prepare("DELETE FROM sub_beacon WHERE beacon_id<>?", op, __LINE__, kRequestFailed);
    sqlite3_bind_int(statement, 1, beaconId);
    stepOnce(statement, op, __LINE__, kDeleteFailed);
  } else {
    stepOnce(prepare("DELETE FROM beacon", op, __LINE__, kRequestFailed), op, __LINE__, kDeleteFailed);
    stepOnce(prepare("DELETE FROM sub_beacon", op, __LINE__, kRequestFailed), op, __LINE__, kDeleteFailed);
  }
}

std::vector<BeaconDatabase::SentBeacon> BeaconDatabase::sentBeacons(const JSONArray& records) {
  std::vector<SentBeacon> sent;
  sent.reserve(records.size());
  for (const auto& value : records) {
    const auto* record = value.get<JSONDictionary>();
    if (!record) continue;
    std::int64_t id = 0;
    const std::string idText = record->text("id");
    std::from_chars(idText.data(), idText.data() + idText.size(), id);
    sent.push_back(SentBeacon{id, record->text("time_stopped")});
  }
  return sent;
}

void BeaconDatabase::deleteSentBeacons(const std::vector<SentBeacon>& sent) {
  std::lock_guard lock(lock_);
  constexpr const char* op = "BeaconDatabase::deleteSentBeacons";
  if (sent.empty()) return;
  // One transaction: a hundred deletes cost one sync of the file, and another process sees all
  // of them or none. Taken for writing at once, so a busy store is found here and nowhere later.
  if (sqlite3_exec(database, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return;
  bool committed = false;
  struct Rollback {
    sqlite3* database;
    bool& committed;
    ~Rollback() {
      if (!committed) sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  } rollback{database, committed};

  sqlite3_stmt* beacon = prepare(kDeleteSentBeacon, op, __LINE__, kRequestFailed);
  Finalizer beaconFinalizer(beacon);
  sqlite3_stmt* subBeacons = prepare(kDeleteSentSubBeacons, op, __LINE__, kRequestFailed);
  Finalizer subBeaconFinalizer(subBeacons);
  for (const SentBeacon& row : sent) {
    sqlite3_bind_int64(beacon, 1, row.id);
    if (row.timeStopped.empty()) {
      sqlite3_bind_null(beacon, 2);
    } else {
      sqlite3_bind_text(beacon, 2, row.timeStopped.data(), static_cast<int>(row.timeStopped.size()), SQLITE_TRANSIENT);
    }
    if (!stepKept(beacon, op, __LINE__, kDeleteFailed)) return;
    if (sqlite3_changes(database) == 0) continue;  // ended since it was sent: it goes again
    sqlite3_bind_int64(subBeacons, 1, row.id);
    if (!stepKept(subBeacons, op, __LINE__, kDeleteFailed)) return;
  }
  committed = sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool BeaconDatabase::stepKept(sqlite3_stmt* statement, const char* operation, int line, const char* failureFormat) {
  const int result = sqlite3_step(statement);
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  if (result == SQLITE_ERROR) fail(operation, line, failureFormat);
  return result == SQLITE_DONE;
}
