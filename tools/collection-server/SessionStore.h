#pragma once
// Where accepted uploads are kept. A session is identified by the device (a hash of its id), the
// application code, and the app's session number and start time; a sub-session by its session,
// its own number, name and start time. Storing an upload again adds nothing twice: it only
// fills in end times that were still open.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SqlDatabase.h"
#include "Upload.h"

// A start time is believed between this moment (2023-01-01, before the app existed) and a day
// after the server received the session; outside, the device's clock was wrong. Such sessions
// are kept and counted, but left out of the chart, the days and the median.
constexpr std::int64_t kEarliestBelievable = 1672531200;
constexpr std::int64_t kLatestBelievableAfterReceipt = 86400;

// The figures the dashboard and `report` show.
struct Figures {
  struct Count {
    std::string label;
    std::int64_t count = 0;
  };
  struct Day {
    std::int64_t day = 0;  // days since 1970-01-01 (UTC)
    std::int64_t sessions = 0;
  };
  struct Latest {
    std::int64_t started = 0;
    std::optional<std::int64_t> stopped;
    std::int64_t received = 0;
    bool clockWrong = false;  // the start time is not believable
    std::string applicationCode, appVersion, deviceModel, deviceOs;
    std::int64_t subSessions = 0;
  };
  std::int64_t sessions = 0;
  std::int64_t devices = 0;
  std::int64_t subSessions = 0;
  std::int64_t clockWrong = 0;          // sessions whose times are not believable
  std::optional<double> medianSeconds;  // over the believable sessions that have ended
  std::vector<Day> perDay;              // the last days up to the newest believable session, oldest first
  std::vector<Count> appVersions;       // most sessions first
  std::vector<Count> machineTypes;
  std::vector<Count> subSessionNames;
  std::vector<Latest> latest;           // the last received first
};

// "2023-11-14 22:13", or "clock wrong".
std::string startedText(const Figures::Latest& session);
// "3 min 5 s", "not ended", or "clock wrong" when the end is not believable.
std::string sessionLengthText(const Figures::Latest& session);

struct SaveOutcome {
  int added = 0;    // sessions not stored before
  int known = 0;    // sessions stored by an earlier upload
};

class SessionStore {
 public:
  // Creates the tables where missing. Throws DatabaseError.
  explicit SessionStore(std::unique_ptr<SqlDatabase> database);

  // Writes the whole upload in one transaction; returns only once it is committed. Throws
  // DatabaseError when nothing was stored.
  SaveOutcome save(const Upload& upload, std::int64_t receivedAt);
  // Throws DatabaseError.
  Figures figures(size_t days = 30, size_t top = 10, size_t latest = 20);

  std::string describe() const { return database_->describe(); }

 private:
  void createTables(const std::string& identityColumn);
  std::unique_ptr<SqlDatabase> database_;
};

// "postgresql://..." or "postgres://..." for PostgreSQL, anything else a SQLite file path.
// Throws DatabaseError.
std::unique_ptr<SessionStore> openSessionStore(const std::string& where);

// $XDG_DATA_HOME/quibblers-collection-server/sessions.sqlite (XDG_DATA_HOME defaulting to
// ~/.local/share).
std::string defaultDatabasePath();

// The stored form of a device id: its SHA-256 in hex, so the collector never keeps the id.
std::string deviceHash(const std::string& deviceId);
