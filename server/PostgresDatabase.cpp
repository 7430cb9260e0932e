#include "PostgresDatabase.h"

#include <libpq-fe.h>

#include <cstring>

namespace sonabox::server {

namespace {

// The key of the advisory lock that write transactions take.
constexpr int64_t kWriteLock = 0x536f6e61626f7801;

// PostgreSQL's type numbers of the integer and boolean columns read back.
constexpr Oid kBoolOid = 16, kInt8Oid = 20, kInt2Oid = 21, kInt4Oid = 23;

int64_t BigEndian(const char *bytes, int size) {
  uint64_t value = 0;
  for (int i = 0; i < size; ++i) value = value << 8 | static_cast<unsigned char>(bytes[i]);
  // Sign-extend the narrower types.
  if (size < 8 && size > 0 && (static_cast<unsigned char>(bytes[0]) & 0x80))
    value |= ~uint64_t(0) << (size * 8);
  return static_cast<int64_t>(value);
}

class TPostgresConnection;

class TPostgresPrepared : public TPrepared {
public:
  TPostgresPrepared(TPostgresConnection &owner, std::string name, int parameters)
      : owner_(owner), name_(std::move(name)), values_(parameters), given_(parameters),
        formats_(parameters) {}
  ~TPostgresPrepared() override { PQclear(result_); }

  void Bind(int index, std::string_view text) override {
    Slot(index).assign(text);
    formats_[index - 1] = 1; // the bytes themselves: raw for bytea and text alike
  }

  void Bind(int index, int64_t value) override {
    Slot(index) = std::to_string(value);
    formats_[index - 1] = 0; // as text, so that any integer or boolean column takes it
  }

  bool Step() override;

  std::string Text(int column) const override {
    const int row = Row(column);
    if (PQgetisnull(result_, row, column)) return {};
    return std::string(PQgetvalue(result_, row, column),
                       static_cast<std::size_t>(PQgetlength(result_, row, column)));
  }

  int64_t Int(int column) const override {
    const int row = Row(column);
    if (PQgetisnull(result_, row, column)) return 0;
    const char *bytes = PQgetvalue(result_, row, column);
    const int size = PQgetlength(result_, row, column);
    const Oid type = PQftype(result_, column);
    if ((type == kInt8Oid && size == 8) || (type == kInt4Oid && size == 4) ||
        (type == kInt2Oid && size == 2) || (type == kBoolOid && size == 1))
      return BigEndian(bytes, size);
    throw TDatabaseError("column " + std::to_string(column) + " is no integer");
  }

  void Reset() override {
    PQclear(result_);
    result_ = nullptr;
    row_ = -1;
    std::fill(given_.begin(), given_.end(), false);
  }

private:
  std::string &Slot(int index) {
    if (index < 1 || index > static_cast<int>(values_.size()))
      throw TDatabaseError("bind: no parameter " + std::to_string(index));
    given_[index - 1] = true;
    return values_[index - 1];
  }

  int Row(int column) const {
    if (!result_ || row_ < 0 || row_ >= PQntuples(result_) || column < 0 ||
        column >= PQnfields(result_))
      throw TDatabaseError("no column " + std::to_string(column) + " in the row");
    return row_;
  }

  TPostgresConnection &owner_;
  std::string name_;
  std::vector<std::string> values_;
  std::vector<bool> given_; // parameters not bound are NULL
  std::vector<int> formats_;
  PGresult *result_ = nullptr;
  int row_ = -1;
};

class TPostgresConnection : public TConnection {
public:
  explicit TPostgresConnection(const std::string &address) {
    // A database that does not answer is given up after 5 s, unless the
    // address says otherwise (its values come after, and so win).
    const char *keywords[] = {"connect_timeout", "dbname", nullptr};
    const char *values[] = {"5", address.c_str(), nullptr};
    db_ = PQconnectdbParams(keywords, values, 1);
    if (!db_) throw TDatabaseError("cannot connect to the database: out of memory");
    if (PQstatus(db_) != CONNECTION_OK) {
      std::string message = std::string("cannot connect to the database: ") + PQerrorMessage(db_);
      PQfinish(db_);
      while (!message.empty() && message.back() == '\n') message.pop_back();
      throw TDatabaseError(message);
    }
    // Notices (an empty search, say) are no failures and need no log line.
    PQsetNoticeProcessor(
        db_, [](void *, const char *) {}, nullptr);
    if (PQsetClientEncoding(db_, "UTF8") != 0) Fail("client encoding");
  }

  ~TPostgresConnection() override {
    ClearCache();
    PQfinish(db_);
  }

  TSqlDialect Dialect() const override { return TSqlDialect::PostgreSQL; }

  void Execute(std::string_view sql) override {
    const std::string text(sql);
    Check(PQexec(db_, text.c_str()), "execute");
  }

  int64_t Changes() const override { return changes_; }

  void BeginWrite() override {
    Execute("BEGIN; SELECT pg_advisory_xact_lock(" + std::to_string(kWriteLock) + ")");
  }

  bool TryLock(int64_t key) override {
    auto taken = Prepare("SELECT pg_try_advisory_lock(?1)");
    taken.Bind(1, key);
    return taken.Step() && taken.Int(0) != 0;
  }

  void Unlock(int64_t key) override { Prepare("SELECT pg_advisory_unlock(?1)").Bind(1, key).Run(); }

  bool Broken() const override { return PQstatus(db_) != CONNECTION_OK; }

  // Takes the result of a statement: kept when it holds rows, raised when it
  // failed.
  PGresult *Check(PGresult *result, std::string_view what) {
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      std::string message(what);
      message += ": ";
      message += result ? PQresultErrorMessage(result) : PQerrorMessage(db_);
      while (!message.empty() && message.back() == '\n') message.pop_back();
      PQclear(result);
      throw TDatabaseError(message);
    }
    const char *changed = PQcmdTuples(result);
    changes_ = *changed ? std::strtoll(changed, nullptr, 10) : 0;
    if (status == PGRES_TUPLES_OK) return result;
    PQclear(result);
    return nullptr;
  }

  PGconn *Handle() const { return db_; }

protected:
  std::unique_ptr<TPrepared> Compile(const std::string &sql) override {
    const std::string name = "s" + std::to_string(++statements_);
    Check(PQprepare(db_, name.c_str(), DollarParameters(sql).c_str(), 0, nullptr), "prepare");
    PGresult *described = PQdescribePrepared(db_, name.c_str());
    if (!described || PQresultStatus(described) != PGRES_COMMAND_OK) {
      PQclear(described);
      Fail("describe");
    }
    const int parameters = PQnparams(described);
    PQclear(described);
    return std::make_unique<TPostgresPrepared>(*this, name, parameters);
  }

private:
  [[noreturn]] void Fail(std::string_view what) {
    std::string message(what);
    message += ": ";
    message += PQerrorMessage(db_);
    while (!message.empty() && message.back() == '\n') message.pop_back();
    throw TDatabaseError(message);
  }

  PGconn *db_ = nullptr;
  int64_t changes_ = 0;
  int statements_ = 0;
};

bool TPostgresPrepared::Step() {
  if (!result_ && row_ < 0) {
    std::vector<const char *> values(values_.size());
    std::vector<int> lengths(values_.size());
    for (std::size_t i = 0; i < values_.size(); ++i) {
      values[i] = given_[i] ? values_[i].data() : nullptr;
      lengths[i] = static_cast<int>(values_[i].size());
    }
    result_ =
        owner_.Check(PQexecPrepared(owner_.Handle(), name_.c_str(), static_cast<int>(values.size()),
                                    values.data(), lengths.data(), formats_.data(), 1),
                     "step");
  }
  ++row_;
  return result_ && row_ < PQntuples(result_);
}

} // namespace

std::string DollarParameters(std::string_view sql) {
  std::string out;
  out.reserve(sql.size());
  char quote = 0;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '?' && i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9') {
      out += '$';
      continue;
    }
    out += c;
  }
  return out;
}

TPostgresDatabase::TPostgresDatabase(std::string address) : address_(std::move(address)) {
  OpenFirst();
}

TPostgresDatabase::~TPostgresDatabase() = default;

std::unique_ptr<TConnection> TPostgresDatabase::Connect() {
  return std::make_unique<TPostgresConnection>(address_);
}

} // namespace sonabox::server
