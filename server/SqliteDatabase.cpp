// The SQLite engine of the store: one file in WAL mode.
#include "Database.h"

#include <sqlite3.h>

namespace sonabox::server {

namespace {

[[noreturn]] void Fail(sqlite3 *db, std::string_view what) {
  std::string message(what);
  message += ": ";
  message += db ? sqlite3_errmsg(db) : "out of memory";
  throw TDatabaseError(message);
}

class TSqlitePrepared : public TPrepared {
public:
  explicit TSqlitePrepared(sqlite3_stmt *statement) : statement_(statement) {}
  ~TSqlitePrepared() override { sqlite3_finalize(statement_); }

  void Bind(int index, std::string_view text) override {
    if (sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8) != SQLITE_OK)
      Fail(sqlite3_db_handle(statement_), "bind");
  }

  void Bind(int index, int64_t value) override {
    if (sqlite3_bind_int64(statement_, index, value) != SQLITE_OK)
      Fail(sqlite3_db_handle(statement_), "bind");
  }

  bool Step() override {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Fail(sqlite3_db_handle(statement_), "step");
  }

  std::string Text(int column) const override {
    const auto *bytes = static_cast<const char *>(sqlite3_column_blob(statement_, column));
    const int size = sqlite3_column_bytes(statement_, column);
    return bytes ? std::string(bytes, static_cast<std::size_t>(size)) : std::string();
  }

  int64_t Int(int column) const override { return sqlite3_column_int64(statement_, column); }

  void Reset() override {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }

private:
  sqlite3_stmt *statement_;
};

class TSqliteConnection : public TConnection {
public:
  explicit TSqliteConnection(const std::string &path) {
    const int rc =
        sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      std::string message =
          "cannot open database " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
      sqlite3_close(db_);
      throw TDatabaseError(message);
    }
    sqlite3_busy_timeout(db_, 10000);
    // Reads through a memory map cost no system call per page.
    Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON; "
            "PRAGMA mmap_size=1073741824; PRAGMA journal_size_limit=16777216;");
  }

  ~TSqliteConnection() override {
    ClearCache(); // the statements go before their connection
    sqlite3_close(db_);
  }

  TSqlDialect Dialect() const override { return TSqlDialect::SQLite; }

  void Execute(std::string_view sql) override {
    const std::string text(sql);
    char *error = nullptr;
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::string message = error ? error : sqlite3_errmsg(db_);
      sqlite3_free(error);
      throw TDatabaseError(message);
    }
  }

  int64_t Changes() const override { return sqlite3_changes64(db_); }

  // IMMEDIATE, so that the transaction never has to be upgraded while another
  // writer holds the lock.
  void BeginWrite() override { Execute("BEGIN IMMEDIATE"); }

protected:
  std::unique_ptr<TPrepared> Compile(const std::string &sql) override {
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                           SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
      Fail(db_, "prepare");
    return std::make_unique<TSqlitePrepared>(statement);
  }

private:
  sqlite3 *db_ = nullptr;
};

} // namespace

TSqliteDatabase::TSqliteDatabase(std::string path) : path_(std::move(path)) {
  OpenFirst();
  Checkpoint();
}

TSqliteDatabase::~TSqliteDatabase() = default;

std::unique_ptr<TConnection> TSqliteDatabase::Connect() {
  return std::make_unique<TSqliteConnection>(path_);
}

bool TSqliteDatabase::Checkpoint() {
  auto connection = Acquire();
  auto result = connection->Prepare("PRAGMA wal_checkpoint(TRUNCATE)");
  return result.Step() && result.Int(0) == 0; // the first column: whether it was blocked
}

} // namespace sonabox::server
