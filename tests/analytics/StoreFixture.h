#pragma once
// A documents directory of its own for each test, and a second raw SQLite connection to look at
// (or lock) the store's file.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "TempDir.h"
#include "platform/NSFileManager.h"

class StoreFixture : public ::testing::Test {
 protected:
  StoreFixture() { platform::setDocumentsDirectory(documents()); }
  ~StoreFixture() override { platform::setDocumentsDirectory(std::nullopt); }

  std::string documents() const { return temp_.file("Documents"); }
  std::string databaseFile(const std::string& code) const { return documents() + "/tallyhive/" + code + ".sql"; }
  const TempDir& temp() const { return temp_; }

 private:
  TempDir temp_;
};

// A second connection to a database file.
class RawConnection {
 public:
  explicit RawConnection(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
  ~RawConnection() { sqlite3_close(db_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  int exec(const std::string& sql) { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr); }
  // The first column of the first row as text ("<null>" for NULL, "<none>" without a row).
  std::string scalar(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) return "<error>";
    std::string out = "<none>";
    if (sqlite3_step(statement) == SQLITE_ROW) {
      const auto* text = sqlite3_column_text(statement, 0);
      out = text ? reinterpret_cast<const char*>(text) : "<null>";
    }
    sqlite3_finalize(statement);
    return out;
  }

 private:
  sqlite3* db_ = nullptr;
};
