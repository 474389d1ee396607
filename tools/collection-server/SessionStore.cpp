#include "SessionStore.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>

#include "Formatting.h"

namespace {

std::int64_t number(const std::optional<std::string>& text) { return text ? std::strtoll(text->c_str(), nullptr, 10) : 0; }

// The believable sessions, as a condition on a row of `session`.
const std::string kBelievable = "time_started >= " + std::to_string(kEarliestBelievable) +
                                " AND time_started <= received_at + " + std::to_string(kLatestBelievableAfterReceipt);
const std::string kBelievablyEnded = kBelievable + " AND time_stopped >= time_started AND time_stopped <= received_at + " +
                                     std::to_string(kLatestBelievableAfterReceipt);

SqlValue orNull(const std::optional<std::int64_t>& value) { return value ? SqlValue(*value) : SqlValue(); }
SqlValue orNull(const std::optional<double>& value) { return value ? SqlValue(*value) : SqlValue(); }

std::vector<Figures::Count> counts(SqlConnection& sql, const char* statement, size_t top) {
  std::vector<Figures::Count> out;
  for (const auto& row : sql.query(statement, {static_cast<std::int64_t>(top)})) {
    out.push_back({row[0].value_or(""), number(row[1])});
  }
  return out;
}

}  // namespace

SessionStore::SessionStore(std::unique_ptr<SqlDatabase> database) : database_(std::move(database)) {
  const std::string id = database_->identityColumn();
  // Collectors starting together on an empty PostgreSQL database race to create the tables; the
  // loser finds them made on its next try.
  for (int attempt = 1;; ++attempt) {
    try {
      createTables(id);
      return;
    } catch (const DatabaseError&) {
      if (attempt == 3) throw;
    }
  }
}

void SessionStore::createTables(const std::string& id) {
  database_->transaction([&](SqlConnection& sql) {
    sql.query("CREATE TABLE IF NOT EXISTS session (id " + id +
              ", device_hash TEXT NOT NULL, application_code TEXT NOT NULL, app_session_id BIGINT NOT NULL,"
              " time_started BIGINT NOT NULL, time_stopped BIGINT, latitude DOUBLE PRECISION,"
              " longitude DOUBLE PRECISION, app_version TEXT NOT NULL, device_model TEXT NOT NULL,"
              " device_os TEXT NOT NULL, received_at BIGINT NOT NULL,"
              " UNIQUE (device_hash, application_code, app_session_id, time_started))");
    sql.query("CREATE TABLE IF NOT EXISTS sub_session (id " + id +
              ", session_id BIGINT NOT NULL REFERENCES session (id), app_sub_session_id BIGINT NOT NULL,"
              " name TEXT NOT NULL, timed INTEGER NOT NULL, time_started BIGINT NOT NULL, time_stopped BIGINT,"
              " UNIQUE (session_id, app_sub_session_id, name, time_started))");
    sql.query("CREATE INDEX IF NOT EXISTS session_by_start ON session (time_started)");
    sql.query("CREATE INDEX IF NOT EXISTS session_by_receipt ON session (received_at)");
  });
}

SaveOutcome SessionStore::save(const Upload& upload, std::int64_t receivedAt) {
  const std::string device = deviceHash(upload.deviceId);
  SaveOutcome outcome;
  // Rows are locked in one order, whatever order the app listed them in, so two collectors
  // writing the same sessions at once wait for each other instead of deadlocking.
  std::vector<const Session*> sessions;
  for (const Session& session : upload.sessions) sessions.push_back(&session);
  std::sort(sessions.begin(), sessions.end(), [](const Session* a, const Session* b) {
    return std::tie(a->appId, a->started) < std::tie(b->appId, b->started);
  });
  database_->transaction([&](SqlConnection& sql) {
    outcome = {};
    for (const Session* sorted : sessions) {
      const Session& session = *sorted;
      // A session the app sent before keeps its first row; only an end time still open is filled in.
      auto rows = sql.query(
          "INSERT INTO session (device_hash, application_code, app_session_id, time_started, time_stopped,"
          " latitude, longitude, app_version, device_model, device_os, received_at)"
          " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11)"
          " ON CONFLICT (device_hash, application_code, app_session_id, time_started) DO NOTHING RETURNING id",
          {device, upload.applicationCode, session.appId, session.started, orNull(session.stopped),
           orNull(session.latitude), orNull(session.longitude), upload.appVersion, upload.deviceModel,
           upload.deviceOs, receivedAt});
      if (rows.empty()) {
        rows = sql.query(
            "SELECT id FROM session WHERE device_hash = $1 AND application_code = $2 AND app_session_id = $3"
            " AND time_started = $4",
            {device, upload.applicationCode, session.appId, session.started});
        if (rows.empty()) throw DatabaseError("a stored session vanished while it was written");
        if (session.stopped) {
          sql.query("UPDATE session SET time_stopped = $1 WHERE id = $2 AND time_stopped IS NULL",
                    {*session.stopped, number(rows[0][0])});
        }
        ++outcome.known;
      } else {
        ++outcome.added;
      }
      const std::int64_t id = number(rows[0][0]);
      std::vector<const SubSession*> subs;
      for (const SubSession& sub : session.subSessions) subs.push_back(&sub);
      std::sort(subs.begin(), subs.end(), [](const SubSession* a, const SubSession* b) {
        return std::tie(a->appId, a->name, a->started) < std::tie(b->appId, b->name, b->started);
      });
      for (const SubSession* sortedSub : subs) {
        const SubSession& sub = *sortedSub;
        sql.query(
            "INSERT INTO sub_session (session_id, app_sub_session_id, name, timed, time_started, time_stopped)"
            " VALUES ($1, $2, $3, $4, $5, $6)"
            " ON CONFLICT (session_id, app_sub_session_id, name, time_started)"
            " DO UPDATE SET time_stopped = excluded.time_stopped"
            " WHERE sub_session.time_stopped IS NULL AND excluded.time_stopped IS NOT NULL",
            {id, sub.appId, sub.name, static_cast<std::int64_t>(sub.timed), sub.started, orNull(sub.stopped)});
      }
    }
  });
  return outcome;
}

Figures SessionStore::figures(size_t days, size_t top, size_t latest) {
  Figures f;
  database_->snapshot([&](SqlConnection& sql) {
    f = {};
    auto rows = sql.query("SELECT COUNT(*), COUNT(DISTINCT device_hash) FROM session");
    f.sessions = number(rows[0][0]);
    f.devices = number(rows[0][1]);
    f.subSessions = number(sql.query("SELECT COUNT(*) FROM sub_session")[0][0]);
    f.clockWrong = f.sessions - number(sql.query("SELECT COUNT(*) FROM session WHERE " + kBelievable)[0][0]);

    const std::int64_t ended = number(sql.query("SELECT COUNT(*) FROM session WHERE " + kBelievablyEnded)[0][0]);
    if (ended > 0) {
      // The middle one, or the two in the middle of an even count.
      rows = sql.query(
          "SELECT time_stopped - time_started AS length FROM session WHERE " + kBelievablyEnded +
              " ORDER BY length LIMIT $1 OFFSET $2",
          {ended % 2 == 0 ? std::int64_t{2} : std::int64_t{1}, (ended - 1) / 2});
      double sum = 0;
      for (const auto& row : rows) sum += static_cast<double>(number(row[0]));
      f.medianSeconds = sum / static_cast<double>(rows.size());
    }

    for (const auto& row : sql.query("SELECT time_started / 86400 AS day, COUNT(*) FROM session WHERE " + kBelievable +
                                         " GROUP BY time_started / 86400 ORDER BY day DESC LIMIT $1",
                                     {static_cast<std::int64_t>(days)})) {
      f.perDay.insert(f.perDay.begin(), {number(row[0]), number(row[1])});
    }
    // The last `days` days up to the newest session, days without sessions as 0, so the chart's
    // gaps are gaps.
    if (!f.perDay.empty()) {
      const std::int64_t newest = f.perDay.back().day;
      const std::int64_t first = std::max(f.perDay.front().day, newest - static_cast<std::int64_t>(days) + 1);
      std::vector<Figures::Day> filled;
      auto next = f.perDay.begin();
      for (std::int64_t day = first; day <= newest; ++day) {
        while (next != f.perDay.end() && next->day < day) ++next;
        filled.push_back({day, next != f.perDay.end() && next->day == day ? next->sessions : 0});
      }
      f.perDay = std::move(filled);
    }
    f.appVersions = counts(
        sql, "SELECT app_version, COUNT(*) FROM session GROUP BY app_version ORDER BY 2 DESC, 1 LIMIT $1", top);
    f.machineTypes = counts(
        sql, "SELECT device_model, COUNT(*) FROM session GROUP BY device_model ORDER BY 2 DESC, 1 LIMIT $1", top);
    f.subSessionNames =
        counts(sql, "SELECT name, COUNT(*) FROM sub_session GROUP BY name ORDER BY 2 DESC, 1 LIMIT $1", top);
    for (const auto& row :
         sql.query("SELECT s.time_started, s.time_stopped, s.application_code, s.app_version, s.device_model,"
                   " s.device_os, (SELECT COUNT(*) FROM sub_session u WHERE u.session_id = s.id), s.received_at"
                   " FROM session s ORDER BY s.received_at DESC, s.id DESC LIMIT $1",
                   {static_cast<std::int64_t>(latest)})) {
      Figures::Latest entry;
      entry.started = number(row[0]);
      if (row[1]) entry.stopped = number(row[1]);
      entry.applicationCode = row[2].value_or("");
      entry.appVersion = row[3].value_or("");
      entry.deviceModel = row[4].value_or("");
      entry.deviceOs = row[5].value_or("");
      entry.subSessions = number(row[6]);
      entry.received = number(row[7]);
      entry.clockWrong = entry.started < kEarliestBelievable ||
                         entry.started - kLatestBelievableAfterReceipt > entry.received;
      f.latest.push_back(std::move(entry));
    }
  });
  return f;
}

std::string startedText(const Figures::Latest& s) { return s.clockWrong ? "clock wrong" : minuteText(s.started); }

std::string sessionLengthText(const Figures::Latest& s) {
  if (!s.stopped || *s.stopped < s.started) return "not ended";
  if (s.clockWrong || *s.stopped - kLatestBelievableAfterReceipt > s.received) return "clock wrong";
  return lengthText(static_cast<double>(*s.stopped - s.started));
}

std::unique_ptr<SessionStore> openSessionStore(const std::string& where) {
  if (where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0) {
    return std::make_unique<SessionStore>(openPostgres(where));
  }
  return std::make_unique<SessionStore>(openSqlite(where));
}

std::string defaultDatabasePath() {
  std::string base;
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') {
    base = data;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.local/share";
  } else {
    base = ".";
  }
  return base + "/quibblers-collection-server/sessions.sqlite";
}

std::string deviceHash(const std::string& deviceId) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(deviceId.data(), deviceId.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
    throw DatabaseError("cannot hash the device id");
  }
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 15];
  }
  return out;
}
