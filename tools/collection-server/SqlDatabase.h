#pragma once
// The little the session store needs from a SQL database, so SQLite and PostgreSQL share one
// schema, one set of statements and one identity. Statements number their parameters $1, $2, ...
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

using SqlValue = std::variant<std::monostate, std::int64_t, double, std::string>;
// Every column as text (NULL as none), as both databases render it.
using SqlRow = std::vector<std::optional<std::string>>;

struct DatabaseError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// The database gave up on the transaction to resolve a conflict with another (a deadlock, a
// serialization failure); running it again is expected to succeed.
struct ConflictError : DatabaseError {
  using DatabaseError::DatabaseError;
};

class SqlConnection {
 public:
  virtual ~SqlConnection() = default;
  // Runs one statement; its rows. Throws DatabaseError.
  virtual std::vector<SqlRow> query(std::string_view sql, const std::vector<SqlValue>& parameters = {}) = 0;
};

class SqlDatabase {
 public:
  virtual ~SqlDatabase() = default;
  // Runs `work` in one transaction on a connection no other thread uses meanwhile: committed
  // when `work` returns and the commit succeeds, rolled back when anything throws. Throws
  // DatabaseError (or what `work` throws) when nothing was committed.
  virtual void transaction(const std::function<void(SqlConnection&)>& work) = 0;
  // Runs `work` on one consistent snapshot, for reading only; it does not hold up writers.
  virtual void snapshot(const std::function<void(SqlConnection&)>& work) { transaction(work); }
  // The column definition of a table's own growing key.
  virtual std::string identityColumn() const = 0;
  // Where the data is, for messages (no password).
  virtual std::string describe() const = 0;
};

// SQLite file at `path` (created with its folder when missing), WAL with full sync; a writer
// waits up to `busyMilliseconds` for another process's lock.
std::unique_ptr<SqlDatabase> openSqlite(const std::string& path, int busyMilliseconds = 5000);

// PostgreSQL at a libpq connection URI ("postgresql://..."); none where the client library is
// not built in.
std::unique_ptr<SqlDatabase> openPostgres(const std::string& uri);
