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
} // namespace

TStatement::TStatement(sqlite3_stmt *statement) : statement_(statement) {}

TStatement::~TStatement() {
  if (statement_) {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }
}

TStatement::TStatement(TStatement &&other) noexcept : statement_(other.statement_) {
  other.statement_ = nullptr;
}

TStatement &TStatement::Bind(int index, std::string_view text) {
  if (sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT,
                          SQLITE_UTF8) != SQLITE_OK)
    Fail(sqlite3_db_handle(statement_), "bind");
  return *this;
}

TStatement &TStatement::Bind(int index, int64_t value) {
  if (sqlite3_bind_int64(statement_, index, value) != SQLITE_OK)
    Fail(sqlite3_db_handle(statement_), "bind");
  return *this;
}

bool TStatement::Step() {
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail(sqlite3_db_handle(statement_), "step");
}

void TStatement::Run() {
  while (Step()) {}
}

std::string TStatement::Text(int column) const {
  const auto *bytes = static_cast<const char *>(sqlite3_column_blob(statement_, column));
  const int size = sqlite3_column_bytes(statement_, column);
  return bytes ? std::string(bytes, static_cast<std::size_t>(size)) : std::string();
}

int64_t TStatement::Int(int column) const { return sqlite3_column_int64(statement_, column); }

TConnection::TConnection(const std::string &path) {
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

TConnection::~TConnection() {
  for (auto &[sql, statement] : cache_) sqlite3_finalize(statement);
  sqlite3_close(db_);
}

void TConnection::Execute(std::string_view sql) {
  const std::string text(sql);
  char *error = nullptr;
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw TDatabaseError(message);
  }
}

TStatement TConnection::Prepare(const std::string &sql) {
  auto found = cache_.find(sql);
  if (found == cache_.end()) {
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()),
                           SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
      Fail(db_, "prepare");
    found = cache_.emplace(sql, statement).first;
  }
  return TStatement(found->second);
}

int64_t TConnection::Changes() const { return sqlite3_changes64(db_); }

TTransaction::TTransaction(TConnection &connection) : connection_(connection) {
  connection_.Execute("BEGIN IMMEDIATE");
}

TTransaction::~TTransaction() {
  if (open_) {
    try {
      connection_.Execute("ROLLBACK");
    } catch (const TDatabaseError &) {
      // The transaction is gone already (SQLite rolls back by itself on some errors).
    }
  }
}

void TTransaction::Commit() {
  connection_.Execute("COMMIT");
  open_ = false;
}

TDatabase::TDatabase(std::string path) : path_(std::move(path)) {
  // Opening the first connection at once reports a bad path at start-up.
  idle_.push_back(std::make_unique<TConnection>(path_));
  Checkpoint();
}

bool TDatabase::Checkpoint() {
  auto connection = Acquire();
  auto result = connection->Prepare("PRAGMA wal_checkpoint(TRUNCATE)");
  return result.Step() && result.Int(0) == 0; // the first column: whether it was blocked
}

TDatabase::~TDatabase() = default;

TDatabase::TLease::TLease(TDatabase &owner, std::unique_ptr<TConnection> connection)
    : owner_(&owner), connection_(std::move(connection)) {}

TDatabase::TLease::~TLease() {
  if (!connection_) return; // moved from
  std::lock_guard lock(owner_->mutex_);
  owner_->idle_.push_back(std::move(connection_));
}

TDatabase::TLease TDatabase::Acquire() {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      auto connection = std::move(idle_.back());
      idle_.pop_back();
      return TLease(*this, std::move(connection));
    }
  }
  return TLease(*this, std::make_unique<TConnection>(path_));
}

} // namespace sonabox::server
