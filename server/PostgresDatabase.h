#pragma once
// The PostgreSQL engine of the store, through libpq. Several servers may share
// one database: a write transaction takes the database's write lock (an
// advisory lock held until it ends), so that they write one after the other
// as the processes on one SQLite file do.
#include "Database.h"

namespace sonabox::server {

class TPostgresDatabase : public TDatabase {
public:
  // Connects at once, so that a wrong address or a database that cannot be
  // reached stops the start.
  explicit TPostgresDatabase(std::string address);
  ~TPostgresDatabase() override;

  // PostgreSQL keeps its own log: nothing to do.
  bool Checkpoint() override { return true; }

protected:
  std::unique_ptr<TConnection> Connect() override;

private:
  std::string address_;
};

// Statement text with numbered parameters ?N written as PostgreSQL's $N;
// quoted text and names are left as they are.
std::string DollarParameters(std::string_view sql);

} // namespace sonabox::server
