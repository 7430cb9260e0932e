#include "PostgresCluster.h"

#include "PostgresDatabase.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace sonabox::test {

namespace fs = std::filesystem;

namespace {

// Debian keeps the server programs out of PATH, one folder per major version.
std::string ServerBinaries() {
  std::string best;
  std::error_code error;
  for (const auto &entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
    const fs::path bin = entry.path() / "bin";
    if (fs::exists(bin / "initdb") && (best.empty() || bin.string() > best)) best = bin.string();
  }
  if (best.empty()) throw std::runtime_error("no PostgreSQL server in /usr/lib/postgresql");
  return best;
}

std::string ReadAll(const fs::path &file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs a program in `folder`, its output into `log`, as the cluster's owner;
// throws with the logs when it fails.
void Run(std::vector<std::string> arguments, const std::string &folder, const std::string &log) {
  const std::string program = fs::path(arguments.front()).filename().string();
  if (geteuid() == 0) arguments.insert(arguments.begin(), {"runuser", "-u", "postgres", "--"});
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out < 0 || chdir(folder.c_str()) != 0) _exit(127);
    dup2(out, 1);
    dup2(out, 2);
    std::vector<char *> argv;
    for (std::string &argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(program + " failed:\n" + ReadAll(log) +
                             ReadAll(folder + "/server.log"));
}

} // namespace

bool TestOnPostgres() {
  const char *store = std::getenv("SONABOX_TEST_STORE");
  return store && std::string(store) == "postgresql";
}

TPostgresCluster &TPostgresCluster::Shared() {
  static TPostgresCluster cluster;
  return cluster;
}

TPostgresCluster::TPostgresCluster() : binaries_(ServerBinaries()) {
  std::string pattern = (fs::temp_directory_path() / "sonabox-pg-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
  root_ = pattern;
  if (geteuid() == 0) {
    const passwd *owner = getpwnam("postgres");
    if (!owner) throw std::runtime_error("no user postgres to run the database server as");
    if (chown(root_.c_str(), owner->pw_uid, owner->pw_gid) != 0)
      throw std::runtime_error("cannot hand " + root_ + " to the postgres user");
  }
  // The programs' own output goes to commands.log; the server writes server.log.
  const std::string log = root_ + "/commands.log";
  Run({binaries_ + "/initdb", "-D", root_ + "/data", "-U", "sonabox", "-A", "trust", "-E", "UTF8",
       "--locale=C.UTF-8", "--no-sync"},
      root_, log);
  // Durability is not what these tests look at: no flush to disk.
  Run({binaries_ + "/pg_ctl", "-D", root_ + "/data", "-l", root_ + "/server.log", "-w", "-t", "60",
       "-o",
       "-k " + root_ +
           " -c listen_addresses= -c fsync=off -c synchronous_commit=off"
           " -c full_page_writes=off -c max_connections=300",
       "start"},
      root_, log);
}

TPostgresCluster::~TPostgresCluster() {
  try {
    Run({binaries_ + "/pg_ctl", "-D", root_ + "/data", "-m", "immediate", "-w", "stop"}, root_,
        root_ + "/commands.log");
  } catch (const std::exception &) {
    // Nothing more to do at the end of the program; the log is removed too.
  }
  std::error_code error;
  fs::remove_all(root_, error);
}

std::string TPostgresCluster::Address(const std::string &database) const {
  return "postgresql:///" + database + "?host=" + root_ + "&user=sonabox";
}

void TPostgresCluster::SetOpen(const std::string &address, bool open) {
  const std::size_t start = address.find("///") + 3;
  const std::string name = address.substr(start, address.find('?') - start);
  server::TPostgresDatabase admin(Address("postgres"));
  admin.Acquire()->Execute("ALTER DATABASE " + name + " ALLOW_CONNECTIONS " +
                           (open ? "true" : "false"));
  if (!open)
    admin.Acquire()->Execute(
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + name + "'");
}

std::string TPostgresCluster::NewDatabase() {
  std::lock_guard lock(mutex_);
  const std::string name = "test" + std::to_string(++databases_);
  server::TPostgresDatabase admin(Address("postgres"));
  admin.Acquire()->Execute("CREATE DATABASE " + name);
  return Address(name);
}

} // namespace sonabox::test
