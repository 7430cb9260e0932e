#pragma once
// The server's store: one database shared by the catalogue, the share store
// and the party. Two engines keep it: a SQLite file (the default, for one
// machine) and a PostgreSQL server (for several servers on one database).
// Statements are written once with numbered parameters (?1, ?2, ...); where
// the engines differ (table definitions, full-text search, letter case) the
// caller picks its text by the connection's dialect. Connections are pooled so
// that request threads read in parallel; a connection is used by one thread at
// a time. Every failure is raised as TDatabaseError.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sonabox::server {

class TDatabaseError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum class TSqlDialect { SQLite, PostgreSQL };

// What an engine does with one prepared statement; TStatement is its loan.
class TPrepared {
public:
  virtual ~TPrepared() = default;
  virtual void Bind(int index, std::string_view text) = 0;
  virtual void Bind(int index, int64_t value) = 0;
  virtual bool Step() = 0;
  virtual std::string Text(int column) const = 0;
  virtual int64_t Int(int column) const = 0;
  // Back to unbound and unexecuted, for the next loan.
  virtual void Reset() = 0;
};

// One prepared statement on loan from its connection's cache; reset and
// unbound again when the loan ends.
class TStatement {
public:
  explicit TStatement(TPrepared *statement) : statement_(statement) {}
  ~TStatement() {
    if (statement_) statement_->Reset();
  }
  TStatement(TStatement &&other) noexcept : statement_(other.statement_) {
    other.statement_ = nullptr;
  }
  TStatement(const TStatement &) = delete;
  TStatement &operator=(const TStatement &) = delete;
  TStatement &operator=(TStatement &&) = delete;

  // Parameters are numbered from 1; text is bound as the bytes given.
  TStatement &Bind(int index, std::string_view text) {
    statement_->Bind(index, text);
    return *this;
  }
  TStatement &Bind(int index, int64_t value) {
    statement_->Bind(index, value);
    return *this;
  }

  // Steps once: true while a row is there.
  bool Step() { return statement_->Step(); }
  // Steps to the end (for statements that answer no rows).
  void Run() {
    while (Step()) {}
  }

  std::string Text(int column) const { return statement_->Text(column); }
  int64_t Int(int column) const { return statement_->Int(column); }

private:
  TPrepared *statement_;
};

class TConnection {
public:
  virtual ~TConnection() = default;

  virtual TSqlDialect Dialect() const = 0;
  // Runs one or more statements that take no parameters.
  virtual void Execute(std::string_view sql) = 0;
  // The statement for this text, prepared once per connection. A text is not
  // asked for again while its earlier loan lasts (the loans would share it).
  TStatement Prepare(const std::string &sql);
  // Rows changed by the last statement.
  virtual int64_t Changes() const = 0;
  // Starts a write transaction that holds the database's one write lock, so
  // that what it reads stays true until it commits.
  virtual void BeginWrite() = 0;
  // A lock by number that one connection of all the servers on the database
  // holds at a time, until Unlock or until the connection ends. A SQLite file
  // serves one server: the lock is always there.
  virtual bool TryLock(int64_t) { return true; }
  virtual void Unlock(int64_t) {}
  // True once the connection is lost: it is closed rather than pooled again.
  virtual bool Broken() const { return false; }

protected:
  virtual std::unique_ptr<TPrepared> Compile(const std::string &sql) = 0;
  // Drops the prepared statements: an engine's connection does so before it closes.
  void ClearCache() { cache_.clear(); }

private:
  std::unordered_map<std::string, std::unique_ptr<TPrepared>> cache_;
};

// A write transaction; rolled back unless committed.
class TTransaction {
public:
  explicit TTransaction(TConnection &connection);
  ~TTransaction();
  TTransaction(const TTransaction &) = delete;
  TTransaction &operator=(const TTransaction &) = delete;
  void Commit();

private:
  TConnection &connection_;
  bool open_ = true;
};

class TDatabase {
public:
  virtual ~TDatabase();
  TDatabase(const TDatabase &) = delete;
  TDatabase &operator=(const TDatabase &) = delete;

  // A pooled connection, handed back when the lease ends.
  class TLease {
  public:
    TLease(TDatabase &owner, std::unique_ptr<TConnection> connection);
    ~TLease();
    TLease(TLease &&) = default;
    TLease(const TLease &) = delete;
    TLease &operator=(const TLease &) = delete;
    TConnection *operator->() const { return connection_.get(); }
    TConnection &operator*() const { return *connection_; }

  private:
    TDatabase *owner_;
    std::unique_ptr<TConnection> connection_;
  };

  TLease Acquire();

  // Whether the database answers a statement now (a lost connection is
  // replaced by a new one first).
  bool Reachable();

  // The engine's own upkeep, run with the server's housekeeping. False when
  // it had to be put off (it is tried again on a later call).
  virtual bool Checkpoint() = 0;

protected:
  TDatabase() = default;
  // Opening the first connection at once reports a bad address at start-up.
  void OpenFirst();
  virtual std::unique_ptr<TConnection> Connect() = 0;

private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<TConnection>> idle_;
};

// A SQLite file in WAL mode.
class TSqliteDatabase : public TDatabase {
public:
  // Opens (creating when needed) the database file and empties its log.
  explicit TSqliteDatabase(std::string path);
  ~TSqliteDatabase() override;

  // Copies the write-ahead log into the database and empties it (waiting for
  // readers up to the busy time-out); also done when the database is opened.
  // Between these, SQLite checkpoints every 1000 pages and truncates the log
  // back to 16 MiB whenever a checkpoint reaches its end. False when a reader
  // held the log too long (it is emptied on a later call).
  bool Checkpoint() override;

protected:
  std::unique_ptr<TConnection> Connect() override;

private:
  std::string path_;
};

// Text that both engines keep as text: UTF-8 with no NUL byte. Other bytes
// from outside are no key the store can hold.
bool IsStorableText(std::string_view text);

// True for the addresses that name a PostgreSQL database.
bool IsPostgresAddress(std::string_view address);

// The store named by the address: a "postgresql://" (or "postgres://")
// connection address, or, when empty, the SQLite file sonabox-server.db in
// the data folder.
std::unique_ptr<TDatabase> OpenDatabase(const std::string &address,
                                        const std::filesystem::path &dataFolder);

} // namespace sonabox::server
