#pragma once
// A private PostgreSQL server for one test program: a cluster made in a
// temporary folder on first use, reached through a socket in that folder only
// (no port is taken), and stopped and removed when the program ends. As root
// it runs as the "postgres" user, since PostgreSQL refuses to run as root.
#include <mutex>
#include <string>

namespace sonabox::test {

// True when this run of a server test keeps its data in PostgreSQL
// (SONABOX_TEST_STORE=postgresql); otherwise the SQLite file is used.
bool TestOnPostgres();

class TPostgresCluster {
public:
  // The cluster of this program, started on the first call.
  static TPostgresCluster &Shared();

  // A new empty database, as a postgresql:// address.
  std::string NewDatabase();
  // Lets connections to the database in, or ends its connections and
  // refuses new ones (as a database that went away does).
  void SetOpen(const std::string &address, bool open);
  // The address of an existing database of the cluster.
  std::string Address(const std::string &database) const;

  ~TPostgresCluster();
  TPostgresCluster(const TPostgresCluster &) = delete;
  TPostgresCluster &operator=(const TPostgresCluster &) = delete;

private:
  TPostgresCluster();

  std::string root_; // the temporary folder: the cluster, its socket and logs
  std::string binaries_;
  std::mutex mutex_;
  int databases_ = 0;
};

} // namespace sonabox::test
