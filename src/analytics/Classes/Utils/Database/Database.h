#pragma once
// The analytics database file: one SQLite file per application code, in the library's directory
// "tallyhive" under the application's documents directory.
#include <mutex>
#include <optional>
#include <string>

struct sqlite3;

class TH_Database {
 public:
  // Stores the code and opens the file. Every failure is raised: NSException
  // "DatabaseInitializedImpropertly" for a missing code, NSAssertionFailure otherwise.
  explicit TH_Database(std::optional<std::string> code);
  // Closes the connection; a failure to close is logged, since it cannot leave a destructor.
  virtual ~TH_Database();
  TH_Database(const TH_Database&) = delete;
  TH_Database& operator=(const TH_Database&) = delete;

  // Atomic, copy semantics. Setting it after the file is open does not move the file.
  std::optional<std::string> applicationCode() const;
  void setApplicationCode(std::optional<std::string> code);

  void loadDb();
  void createDocumentsDirIfNeeded();

  // The documents directory, the library's directory, and the file for `code`.
  static std::string documentsDirectory();
  static std::string libraryDirectory();
  static std::string databasePath(const std::string& code);

 protected:
  sqlite3* database = nullptr;

 private:
  mutable std::mutex codeMutex_;
  std::optional<std::string> applicationCode_;
};
