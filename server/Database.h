#pragma once
// The server's SQLite database: one file in WAL mode, shared by the catalogue
// and the share store. Connections are pooled so that request threads read in
// parallel; a connection is used by one thread at a time. Every failure is
// raised as TDatabaseError.
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace sonabox::server {

class TDatabaseError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One prepared statement on loan from its connection's cache; reset and
// unbound again when the loan ends.
class TStatement {
public:
  explicit TStatement(sqlite3_stmt *statement);
  ~TStatement();
  TStatement(TStatement &&other) noexcept;
  TStatement(const TStatement &) = delete;
  TStatement &operator=(const TStatement &) = delete;
  TStatement &operator=(TStatement &&) = delete;

  // Parameters are numbered from 1; text is bound as the bytes given.
  TStatement &Bind(int index, std::string_view text);
  TStatement &Bind(int index, int64_t value);

  // Steps once: true while a row is there.
  bool Step();
  // Steps to the end (for statements that answer no rows).
  void Run();

  std::string Text(int column) const;
  int64_t Int(int column) const;

private:
  sqlite3_stmt *statement_;
};

class TConnection {
public:
  explicit TConnection(const std::string &path);
  ~TConnection();
  TConnection(const TConnection &) = delete;
  TConnection &operator=(const TConnection &) = delete;

  // Runs one or more statements that take no parameters.
  void Execute(std::string_view sql);
  // The statement for this text, prepared once per connection. A text is not
  // asked for again while its earlier loan lasts (the loans would share it).
  TStatement Prepare(const std::string &sql);
  // Rows changed by the last statement.
  int64_t Changes() const;

private:
  sqlite3 *db_ = nullptr;
  std::unordered_map<std::string, sqlite3_stmt *> cache_;
};

// A write transaction (BEGIN IMMEDIATE, so that it never has to be upgraded
// while another writer holds the lock); rolled back unless committed.
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
  // Opens (creating when needed) the database file.
  explicit TDatabase(std::string path);
  ~TDatabase();
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

  // Copies the write-ahead log into the database and empties it (waiting for
  // readers up to the busy time-out); also done when the database is opened.
  // Between these, SQLite checkpoints every 1000 pages and truncates the log
  // back to 16 MiB whenever a checkpoint reaches its end. False when a reader
  // held the log too long (it is emptied on a later call).
  bool Checkpoint();

private:
  std::string path_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<TConnection>> idle_;
};

} // namespace sonabox::server
