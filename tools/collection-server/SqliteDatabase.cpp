// SQLite: one connection, one writer at a time, commits grouped. WAL lets `report` and the dashboard read while
// an upload is written; synchronous=FULL makes a commit survive a power cut, which is what the
// "success" answer promises.
#include <sqlite3.h>

#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>

#include "SqlDatabase.h"

namespace {

class SqliteConnection final : public SqlConnection {
 public:
  explicit SqliteConnection(sqlite3* db) : db_(db) {}

  std::vector<SqlRow> query(std::string_view sql, const std::vector<SqlValue>& parameters) override {
    // SQLite spells numbered parameters ?1, ?2, ...
    std::string text(sql);
    for (char& c : text) {
      if (c == '$') c = '?';
    }
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()), &raw, nullptr) != SQLITE_OK) {
      fail("prepare");
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
    for (size_t i = 0; i < parameters.size(); ++i) {
      const int at = static_cast<int>(i + 1);
      const SqlValue& value = parameters[i];
      int status = SQLITE_OK;
      if (const auto* n = std::get_if<std::int64_t>(&value)) {
        status = sqlite3_bind_int64(raw, at, *n);
      } else if (const auto* d = std::get_if<double>(&value)) {
        status = sqlite3_bind_double(raw, at, *d);
      } else if (const auto* s = std::get_if<std::string>(&value)) {
        status = sqlite3_bind_text64(raw, at, s->data(), s->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      } else {
        status = sqlite3_bind_null(raw, at);
      }
      if (status != SQLITE_OK) fail("bind");
    }
    std::vector<SqlRow> rows;
    for (;;) {
      const int status = sqlite3_step(raw);
      if (status == SQLITE_DONE) break;
      if (status != SQLITE_ROW) fail("step");
      SqlRow row;
      const int columns = sqlite3_column_count(raw);
      for (int c = 0; c < columns; ++c) {
        const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(raw, c));
        if (value) {
          row.emplace_back(std::string(value, static_cast<size_t>(sqlite3_column_bytes(raw, c))));
        } else {
          row.emplace_back(std::nullopt);
        }
      }
      rows.push_back(std::move(row));
    }
    return rows;
  }

 private:
  [[noreturn]] void fail(const char* step) {
    throw DatabaseError(std::string("SQLite ") + step + ": " + sqlite3_errmsg(db_));
  }
  sqlite3* db_;
};

class SqliteDatabase final : public SqlDatabase {
 public:
  SqliteDatabase(const std::string& path, int busyMilliseconds) : path_(path), busyMilliseconds_(busyMilliseconds) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code ignored;
    if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
      const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      db_ = nullptr;
      throw DatabaseError("cannot open " + path + ": " + message);
    }
    sqlite3_busy_timeout(db_, busyMilliseconds);
    SqliteConnection connection(db_);
    try {
      const auto mode = connection.query("PRAGMA journal_mode=WAL", {});
      if (mode.empty() || mode[0].empty() || mode[0][0] != "wal") throw DatabaseError("WAL journal refused");
      connection.query("PRAGMA synchronous=FULL", {});
    } catch (const DatabaseError& e) {
      sqlite3_close(db_);
      db_ = nullptr;
      throw DatabaseError("cannot use " + path + ": " + e.what());
    }
  }
  ~SqliteDatabase() override { sqlite3_close(db_); }

  // Group commit: whoever finds no commit running writes every transaction queued meanwhile in
  // one SQLite transaction, each inside a savepoint of its own, and syncs once for all of them.
  // Each caller returns (or throws) only after that commit, so "committed" still means on disk.
  void transaction(const std::function<void(SqlConnection&)>& work) override {
    Pending mine{&work, nullptr, false};
    std::unique_lock lock(mutex_);
    queue_.push_back(&mine);
    while (!mine.done) {
      if (writing_) {
        finished_.wait(lock);
        continue;
      }
      writing_ = true;
      std::vector<Pending*> batch;
      batch.swap(queue_);
      lock.unlock();
      commit(batch);
      lock.lock();
      for (Pending* p : batch) p->done = true;
      writing_ = false;
      finished_.notify_all();
    }
    if (mine.error) std::rethrow_exception(mine.error);
  }

  // A connection of its own: in WAL mode a reader sees the last commit and blocks no writer.
  void snapshot(const std::function<void(SqlConnection&)>& work) override {
    sqlite3* reader = nullptr;
    const int opened = sqlite3_open_v2(path_.c_str(), &reader, SQLITE_OPEN_READONLY, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> closing(reader, sqlite3_close);
    if (opened != SQLITE_OK) {
      throw DatabaseError("cannot read " + path_ + ": " + (reader ? sqlite3_errmsg(reader) : "out of memory"));
    }
    sqlite3_busy_timeout(reader, busyMilliseconds_);
    SqliteConnection connection(reader);
    connection.query("BEGIN", {});
    work(connection);
    connection.query("COMMIT", {});
  }

  std::string identityColumn() const override { return "INTEGER PRIMARY KEY AUTOINCREMENT"; }
  std::string describe() const override { return "SQLite file " + path_; }

 private:
  struct Pending {
    const std::function<void(SqlConnection&)>* work;
    std::exception_ptr error;
    bool done = false;
  };

  void commit(const std::vector<Pending*>& batch) {
    SqliteConnection connection(db_);
    try {
      // IMMEDIATE takes the write lock up front, so a busy database fails here, not half-way.
      connection.query("BEGIN IMMEDIATE", {});
      for (Pending* p : batch) {
        connection.query("SAVEPOINT one", {});
        try {
          (*p->work)(connection);
          connection.query("RELEASE one", {});
        } catch (...) {
          p->error = std::current_exception();
          connection.query("ROLLBACK TO one", {});
          connection.query("RELEASE one", {});
        }
      }
      connection.query("COMMIT", {});
    } catch (...) {
      // Nothing of the batch is stored: each caller hears so.
      if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      for (Pending* p : batch) {
        if (!p->error) p->error = std::current_exception();
      }
    }
  }

  std::string path_;
  int busyMilliseconds_;
  sqlite3* db_ = nullptr;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::vector<Pending*> queue_;
  bool writing_ = false;
};

}  // namespace

std::unique_ptr<SqlDatabase> openSqlite(const std::string& path, int busyMilliseconds) {
  return std::make_unique<SqliteDatabase>(path, busyMilliseconds);
}
