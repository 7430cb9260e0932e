#include "Database.h"

#include "PostgresDatabase.h"
#include "core/common/TextHelpers.h"

namespace sonabox::server {

TStatement TConnection::Prepare(const std::string &sql) {
  auto found = cache_.find(sql);
  if (found == cache_.end()) found = cache_.emplace(sql, Compile(sql)).first;
  return TStatement(found->second.get());
}

TTransaction::TTransaction(TConnection &connection) : connection_(connection) {
  connection_.BeginWrite();
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

TDatabase::~TDatabase() = default;

void TDatabase::OpenFirst() { idle_.push_back(Connect()); }

TDatabase::TLease::TLease(TDatabase &owner, std::unique_ptr<TConnection> connection)
    : owner_(&owner), connection_(std::move(connection)) {}

TDatabase::TLease::~TLease() {
  if (!connection_ || connection_->Broken()) return; // moved from, or lost
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
  return TLease(*this, Connect());
}

bool TDatabase::Reachable() {
  // A pooled connection may have been lost (the database restarted): it
  // fails once and is dropped, and the second try opens a new one.
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      Acquire()->Execute("SELECT 1");
      return true;
    } catch (const TDatabaseError &) {}
  }
  return false;
}

bool IsStorableText(std::string_view text) {
  return text.find('\0') == std::string_view::npos && ValidUtf8(text) == text;
}

bool IsPostgresAddress(std::string_view address) {
  return address.starts_with("postgresql://") || address.starts_with("postgres://");
}

std::unique_ptr<TDatabase> OpenDatabase(const std::string &address,
                                        const std::filesystem::path &dataFolder) {
  if (address.empty())
    return std::make_unique<TSqliteDatabase>((dataFolder / "sonabox-server.db").string());
  if (IsPostgresAddress(address)) return std::make_unique<TPostgresDatabase>(address);
  throw TDatabaseError("the database address is no postgresql:// address: " + address);
}

} // namespace sonabox::server
