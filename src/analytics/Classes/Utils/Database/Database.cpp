#include "Classes/Utils/Database/Database.h"

#include <sqlite3.h>

#include "platform/NSException.h"
#include "platform/NSFileManager.h"
#include "platform/Log.h"

namespace {
constexpr const char* kSourceFile = "Classes/Utils/Database/Database.cpp";

std::string withMessage(const char* format, const char* message) {
  const int needed = std::snprintf(nullptr, 0, format, message);
  std::string text(static_cast<size_t>(needed > 0 ? needed : 0) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, message);
  text.resize(text.size() - 1);
  return text;
}
}  // namespace

TH_Database::TH_Database(std::optional<std::string> code) {
  setApplicationCode(std::move(code));
  loadDb();
}

TH_Database::~TH_Database() {
  if (!database) return;
  if (sqlite3_close(database) != SQLITE_OK) {
    NSLog("Error: failed to close database with message '%s'.", sqlite3_errmsg(database));
  }
  database = nullptr;
}

std::optional<std::string> TH_Database::applicationCode() const {
  std::lock_guard lock(codeMutex_);
  return applicationCode_;
}

void TH_Database::setApplicationCode(std::optional<std::string> code) {
  std::lock_guard lock(codeMutex_);
  applicationCode_ = std::move(code);
}

std::string TH_Database::documentsDirectory() {
  const auto paths = NSSearchPathForDirectoriesInDomains(NSDocumentDirectory, NSUserDomainMask, true);
  return paths.empty() ? std::string() : paths.front();
}

std::string TH_Database::libraryDirectory() { return documentsDirectory() + "/tallyhive/"; }

std::string TH_Database::databasePath(const std::string& code) {
  return documentsDirectory() + "/tallyhive/" + code + ".sql";
}

void TH_Database::createDocumentsDirIfNeeded() {
  NSFileManager& fileManager = NSFileManager::defaultManager();
  const std::string documents = documentsDirectory();
  // Unlike a phone's sandbox, a fresh account may lack ~/.local/share: make the parents too.
  if (!fileManager.fileExistsAtPath(documents) && !fileManager.createDirectoryAtPath(documents, true)) {
    handleFailureInMethod("TH_Database::createDocumentsDirIfNeeded", this, kSourceFile, __LINE__,
                          "Failed to create Documents directory.");
  }
  const std::string library = documents + "/tallyhive/";
  if (!fileManager.fileExistsAtPath(library) && !fileManager.createDirectoryAtPath(library, false)) {
    handleFailureInMethod("TH_Database::createDocumentsDirIfNeeded", this, kSourceFile, __LINE__,
                          "Failed to create tallyhive directory.");
  }
}

void TH_Database::loadDb() {
  createDocumentsDirIfNeeded();
  const std::optional<std::string> code = applicationCode();
  if (!code) {
    throw NSException("DatabaseInitializedImpropertly",
                      "The database was initialized without an application code.");
  }
  // The code names a file inside the library's directory and nothing else.
  if (code->find('/') != std::string::npos || code->find('\0') != std::string::npos) {
    handleFailureInMethod("TH_Database::loadDb", this, kSourceFile, __LINE__,
                          withMessage("Failed to open database with message '%s'.",
                                      "the application code is not a plain file name"));
  }
  const std::string path = databasePath(*code);
  if (sqlite3_open(path.c_str(), &database) != SQLITE_OK) {
    const std::string message = sqlite3_errmsg(database);
    sqlite3_close(database);
    database = nullptr;
    handleFailureInMethod("TH_Database::loadDb", this, kSourceFile, __LINE__,
                          withMessage("Failed to open database with message '%s'.", message.c_str()));
  }
}
