#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>

#include "Classes/Utils/Database/Database.h"
#include "StoreFixture.h"
#include "platform/NSException.h"
#include "platform/Log.h"

namespace fs = std::filesystem;

using DatabaseFile = StoreFixture;

TEST_F(DatabaseFile, CreatesBothDirectoriesAndTheFile) {
  ASSERT_FALSE(fs::exists(documents()));
  TH_Database db("abc123");
  EXPECT_TRUE(fs::is_directory(documents()));
  EXPECT_TRUE(fs::is_directory(documents() + "/tallyhive"));
  EXPECT_TRUE(fs::is_regular_file(databaseFile("abc123")));
  EXPECT_EQ(TH_Database::databasePath("abc123"), documents() + "/tallyhive/abc123.sql");
  EXPECT_EQ(TH_Database::libraryDirectory(), documents() + "/tallyhive/");
}

TEST_F(DatabaseFile, MissingParentsOfTheDocumentsDirectoryAreMade) {
  platform::setDocumentsDirectory(temp().file("a/b/c"));
  TH_Database db("x");
  EXPECT_TRUE(fs::is_regular_file(temp().file("a/b/c/tallyhive/x.sql")));
}

TEST_F(DatabaseFile, MissingCodeRaisesAfterTheDirectoriesExist) {
  try {
    TH_Database db(std::nullopt);
    FAIL() << "no exception";
  } catch (const NSException& e) {
    EXPECT_EQ(e.name(), "DatabaseInitializedImpropertly");
    EXPECT_EQ(e.reason(), "The database was initialized without an application code.");
  }
  EXPECT_TRUE(fs::is_directory(documents() + "/tallyhive"));
  EXPECT_TRUE(fs::is_empty(documents() + "/tallyhive"));
}

TEST_F(DatabaseFile, EmptyCodeOpensDotSql) {
  TH_Database db("");
  EXPECT_TRUE(fs::is_regular_file(documents() + "/tallyhive/.sql"));
}

TEST_F(DatabaseFile, CodeWithAPathSeparatorIsRefused) {
  EXPECT_THROW(TH_Database db("../escape"), NSAssertionFailure);
  EXPECT_FALSE(fs::exists(documents() + "/escape.sql"));
}

TEST_F(DatabaseFile, SameCodeSameFileOtherCodeOtherFileExistingContentKept) {
  {
    TH_Database first("one");
    RawConnection(databaseFile("one")).exec("CREATE TABLE kept (v TEXT); INSERT INTO kept VALUES ('still here')");
  }
  TH_Database again("one");
  TH_Database other("two");
  EXPECT_EQ(RawConnection(databaseFile("one")).scalar("SELECT v FROM kept"), "still here");
  EXPECT_TRUE(fs::exists(databaseFile("two")));
}

TEST_F(DatabaseFile, ChangingTheCodeLaterDoesNotMoveTheFile) {
  TH_Database db("first");
  db.setApplicationCode("second");
  EXPECT_EQ(db.applicationCode(), "second");
  EXPECT_TRUE(fs::exists(databaseFile("first")));
  EXPECT_FALSE(fs::exists(databaseFile("second")));
}

TEST_F(DatabaseFile, UnwritableDocumentsDirectoryIsAnAssertionFailure) {
  std::ofstream(temp().file("plainfile")) << "x";
  platform::setDocumentsDirectory(temp().file("plainfile/Documents"));
  try {
    TH_Database db("code");
    FAIL() << "no exception";
  } catch (const NSAssertionFailure& e) {
    EXPECT_EQ(e.description(), "Failed to create Documents directory.");
    EXPECT_EQ(e.file(), "Classes/Utils/Database/Database.cpp");
    EXPECT_GT(e.line(), 0);
  }
}

TEST_F(DatabaseFile, DocumentsDirectoryThatIsAFileFailsAtTheLibraryDirectory) {
  std::ofstream(documents()) << "x";
  try {
    TH_Database db("code");
    FAIL() << "no exception";
  } catch (const NSAssertionFailure& e) {
    EXPECT_EQ(e.description(), "Failed to create tallyhive directory.");
  }
}

TEST_F(DatabaseFile, FileThatCannotBeOpenedIsAnAssertionFailure) {
  fs::create_directories(databaseFile("dir"));  // a directory where the file should be
  try {
    TH_Database db("dir");
    FAIL() << "no exception";
  } catch (const NSAssertionFailure& e) {
    EXPECT_EQ(e.description(), "Failed to open database with message 'unable to open database file'.");
  }
}

namespace {
// Leaves a statement unfinalized, so closing the connection fails.
class LeakyDatabase : public TH_Database {
 public:
  explicit LeakyDatabase(const std::string& code) : TH_Database(code) {
    sqlite3_prepare_v2(database, "SELECT 1", -1, &statement, nullptr);
    connection = database;
  }
  sqlite3_stmt* statement = nullptr;
  sqlite3* connection = nullptr;
};
}  // namespace

TEST_F(DatabaseFile, CloseFailureInTheDestructorIsLoggedNotThrown) {
  platform::LogCapture log;
  sqlite3_stmt* statement = nullptr;
  sqlite3* connection = nullptr;
  {
    LeakyDatabase db("leaky");
    statement = db.statement;
    connection = db.connection;
  }
  EXPECT_TRUE(log.contains("Error: failed to close database with message 'unable to close due to unfinalized"));
  sqlite3_finalize(statement);
  EXPECT_EQ(sqlite3_close(connection), SQLITE_OK);
}
