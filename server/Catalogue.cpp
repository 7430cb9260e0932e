#include "Catalogue.h"

#include "core/common/TextHelpers.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cctype>

namespace sonabox::server {

namespace {

constexpr const char *kSchema = R"sql(
CREATE TABLE IF NOT EXISTS videos(
  id INTEGER PRIMARY KEY,
  vid TEXT NOT NULL UNIQUE,
  relpath TEXT NOT NULL UNIQUE,
  category TEXT NOT NULL,
  title TEXT NOT NULL,
  artist TEXT NOT NULL DEFAULT '',
  ctime INTEGER NOT NULL DEFAULT 0,
  content TEXT NOT NULL DEFAULT '',
  unavailable TEXT NOT NULL DEFAULT '',
  description TEXT NOT NULL,
  seconds INTEGER NOT NULL,
  size INTEGER NOT NULL,
  mtime INTEGER NOT NULL,
  views INTEGER NOT NULL DEFAULT 0,
  rating TEXT NOT NULL DEFAULT '0.00');
CREATE INDEX IF NOT EXISTS videos_by_content ON videos(content);
CREATE INDEX IF NOT EXISTS videos_by_title ON videos(title COLLATE NOCASE, id);
CREATE INDEX IF NOT EXISTS videos_by_category
  ON videos(category COLLATE NOCASE, title COLLATE NOCASE, id);
CREATE VIRTUAL TABLE IF NOT EXISTS videos_fts USING fts5(
  title, artist, description, content='videos', content_rowid='id',
  tokenize='porter unicode61 remove_diacritics 2');
CREATE TRIGGER IF NOT EXISTS videos_fts_insert AFTER INSERT ON videos BEGIN
  INSERT INTO videos_fts(rowid, title, artist, description)
    VALUES (new.id, new.title, new.artist, new.description);
END;
CREATE TRIGGER IF NOT EXISTS videos_fts_delete AFTER DELETE ON videos BEGIN
  INSERT INTO videos_fts(videos_fts, rowid, title, artist, description)
    VALUES ('delete', old.id, old.title, old.artist, old.description);
END;
CREATE TRIGGER IF NOT EXISTS videos_fts_update AFTER UPDATE OF title, artist, description
  ON videos BEGIN
  INSERT INTO videos_fts(videos_fts, rowid, title, artist, description)
    VALUES ('delete', old.id, old.title, old.artist, old.description);
  INSERT INTO videos_fts(rowid, title, artist, description)
    VALUES (new.id, new.title, new.artist, new.description);
END;
)sql";

// Columns added since the first catalogue. A catalogue that lacks one gets it,
// its full-text index made again with the new columns, and every file read
// again at the next scan to fill them.
struct TAddedColumn {
  const char *Name;
  const char *Definition;
};
constexpr TAddedColumn kAddedColumns[] = {{"artist", "TEXT NOT NULL DEFAULT ''"},
                                          {"ctime", "INTEGER NOT NULL DEFAULT 0"},
                                          {"content", "TEXT NOT NULL DEFAULT ''"},
                                          {"unavailable", "TEXT NOT NULL DEFAULT ''"}};

void Upgrade(TConnection &connection) {
  TTransaction transaction(connection);
  bool added = false;
  {
    auto exists = connection.Prepare("SELECT 1 FROM sqlite_schema WHERE name = 'videos'");
    if (!exists.Step()) return; // a new catalogue: the schema makes it whole
  }
  for (const TAddedColumn &column : kAddedColumns) {
    auto has = connection.Prepare("SELECT 1 FROM pragma_table_info('videos') WHERE name = ?1");
    has.Bind(1, std::string_view(column.Name));
    if (has.Step()) continue;
    connection.Execute(std::string("ALTER TABLE videos ADD COLUMN ") + column.Name + " " +
                       column.Definition);
    added = true;
  }
  if (!added) return;
  connection.Execute("DROP TRIGGER IF EXISTS videos_fts_insert; "
                     "DROP TRIGGER IF EXISTS videos_fts_delete; "
                     "DROP TRIGGER IF EXISTS videos_fts_update; DROP TABLE IF EXISTS videos_fts; "
                     "UPDATE videos SET mtime = -1;");
  connection.Execute(kSchema);
  connection.Execute("INSERT INTO videos_fts(videos_fts) VALUES ('rebuild')");
  transaction.Commit();
}

// Ranked lists kept for repeated searches and the pages after the first: at
// most this many lists, holding at most this many ids together (32 MB).
constexpr std::size_t kRankedCacheLists = 4096;
constexpr std::size_t kRankedCacheIds = 4'000'000;

// The most videos one page holds.
constexpr int64_t kMaxPage = 25;

const std::string kColumns =
    "v.vid, v.relpath, v.category, v.title, v.description, v.seconds, v.size, v.mtime, "
    "v.views, v.rating, v.artist, v.ctime, v.content, v.unavailable";

TCatalogueVideo ReadVideo(const TStatement &row) {
  TCatalogueVideo video;
  video.Id = row.Text(0);
  video.RelPath = row.Text(1);
  video.Category = row.Text(2);
  video.Title = row.Text(3);
  video.Description = row.Text(4);
  video.Seconds = row.Int(5);
  video.Size = row.Int(6);
  video.MTime = row.Int(7);
  video.Views = row.Int(8);
  video.Rating = row.Text(9);
  video.Artist = row.Text(10);
  video.CTime = row.Int(11);
  video.Content = row.Text(12);
  video.Unavailable = row.Text(13);
  return video;
}

bool IsWordByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80;
}

} // namespace

std::string VideoIdFor(std::string_view contentKey, int attempt) {
  std::string text(contentKey);
  if (attempt > 0) text += "\n" + std::to_string(attempt);
  const std::string hex = Sha1Hex(text);
  std::string digest;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    digest += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  std::string id = Base64Encode(digest).substr(0, 11);
  for (char &c : id) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  return id;
}

std::string MatchExpression(std::string_view keywords) {
  std::string expression;
  std::size_t i = 0;
  while (i < keywords.size()) {
    if (!IsWordByte(static_cast<unsigned char>(keywords[i]))) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < keywords.size() && IsWordByte(static_cast<unsigned char>(keywords[i]))) ++i;
    if (!expression.empty()) expression += ' ';
    expression += '"';
    expression += keywords.substr(start, i - start);
    expression += '"';
  }
  return expression;
}

TCatalogue::TCatalogue(TDatabase &database) : database_(database) {
  auto connection = database_.Acquire();
  Upgrade(*connection);
  connection->Execute(kSchema);
}

TFeedPage TCatalogue::Search(std::string_view category, std::string_view keywords,
                             int64_t startIndex, int64_t maxResults) {
  auto connection = database_.Acquire();
  const std::shared_ptr<const std::vector<int64_t>> ranked =
      RankedIds(*connection, MatchExpression(keywords), category);
  TFeedPage page;
  page.Total = static_cast<int64_t>(ranked->size());
  const int64_t first = startIndex - 1;
  const int64_t end = std::min(page.Total, first + std::min(maxResults, kMaxPage));
  if (first >= end) return page;

  // One statement (and so one read transaction) for the whole page.
  static const std::string kPageQuery = [] {
    std::string sql = "SELECT " + kColumns + ", v.id FROM videos v WHERE v.id IN (?1";
    for (int i = 2; i <= kMaxPage; ++i) sql += ", ?" + std::to_string(i);
    return sql + ")";
  }();
  auto rows = connection->Prepare(kPageQuery);
  for (int64_t i = first; i < end; ++i)
    rows.Bind(static_cast<int>(i - first + 1), (*ranked)[static_cast<std::size_t>(i)]);
  std::unordered_map<int64_t, TCatalogueVideo> found;
  while (rows.Step()) found.emplace(rows.Int(14), ReadVideo(rows));
  for (int64_t i = first; i < end; ++i) {
    const auto video = found.find((*ranked)[static_cast<std::size_t>(i)]);
    if (video != found.end()) page.Videos.push_back(std::move(video->second));
  }
  return page;
}

std::shared_ptr<const std::vector<int64_t>> TCatalogue::RankedIds(TConnection &connection,
                                                                  const std::string &match,
                                                                  std::string_view category) {
  std::string key = match + '\0';
  for (const char c : category)
    key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // Read before the query: a list made while the catalogue changes is stored
  // under the old generation and so never served.
  const uint64_t generation = generation_.load();
  {
    std::lock_guard lock(cacheMutex_);
    const auto found = cache_.find(key);
    if (found != cache_.end() && found->second.Generation == generation) {
      found->second.LastUse = ++useClock_;
      return found->second.Ids;
    }
  }

  auto ids = std::make_shared<std::vector<int64_t>>();
  if (match.empty()) {
    // Browsing: everything (in the category) by title.
    auto rows = connection.Prepare(
        category.empty() ? "SELECT id FROM videos ORDER BY title COLLATE NOCASE, id"
                         : "SELECT id FROM videos WHERE category = ?2 COLLATE NOCASE "
                           "ORDER BY category COLLATE NOCASE, title COLLATE NOCASE, id");
    if (!category.empty()) rows.Bind(2, category);
    while (rows.Step()) ids->push_back(rows.Int(0));
  } else if (category.empty()) {
    auto rows = connection.Prepare("SELECT rowid FROM videos_fts WHERE videos_fts MATCH ?1 "
                                   "ORDER BY bm25(videos_fts, 10.0, 5.0, 1.0), rowid");
    rows.Bind(1, match);
    while (rows.Step()) ids->push_back(rows.Int(0));
  } else {
    // CROSS JOIN keeps the full-text match as the outer loop.
    auto rows =
        connection.Prepare("SELECT f.rowid FROM (SELECT rowid, bm25(videos_fts, 10.0, 5.0, 1.0) AS "
                           "score FROM videos_fts "
                           "WHERE videos_fts MATCH ?1) AS f CROSS JOIN videos v ON v.id = f.rowid "
                           "WHERE v.category = ?2 COLLATE NOCASE ORDER BY f.score, f.rowid");
    rows.Bind(1, match).Bind(2, category);
    while (rows.Step()) ids->push_back(rows.Int(0));
  }

  std::lock_guard lock(cacheMutex_);
  if (const auto old = cache_.find(key); old != cache_.end()) {
    cachedIds_ -= old->second.Ids->size();
    cache_.erase(old);
  }
  // Lists of an older generation go first, then the least recently used.
  while (!cache_.empty() &&
         (cache_.size() >= kRankedCacheLists || cachedIds_ + ids->size() > kRankedCacheIds)) {
    auto victim = cache_.begin();
    for (auto it = cache_.begin(); it != cache_.end(); ++it) {
      const bool itStale = it->second.Generation != generation;
      const bool victimStale = victim->second.Generation != generation;
      if (itStale != victimStale ? itStale : it->second.LastUse < victim->second.LastUse)
        victim = it;
    }
    cachedIds_ -= victim->second.Ids->size();
    cache_.erase(victim);
  }
  if (ids->size() > kRankedCacheIds) return ids;
  cachedIds_ += ids->size();
  cache_[key] = TRanked{generation, ++useClock_, ids};
  return ids;
}

std::optional<TCatalogueVideo> TCatalogue::Find(std::string_view id) {
  auto connection = database_.Acquire();
  auto row = connection->Prepare("SELECT " + kColumns + " FROM videos v WHERE v.vid = ?1");
  row.Bind(1, id);
  if (!row.Step()) return std::nullopt;
  return ReadVideo(row);
}

std::vector<TCatalogueVideo> TCatalogue::FindAll(const std::vector<std::string> &ids) {
  QJsonArray list;
  for (const std::string &id : ids) list.append(QString::fromStdString(id));
  auto connection = database_.Acquire();
  auto rows = connection->Prepare(
      "SELECT " + kColumns + " FROM videos v WHERE v.vid IN (SELECT value FROM json_each(?1))");
  rows.Bind(1, QJsonDocument(list).toJson(QJsonDocument::Compact).toStdString());
  std::vector<TCatalogueVideo> found;
  while (rows.Step()) found.push_back(ReadVideo(rows));
  return found;
}

std::vector<TCategoryCount> TCatalogue::Categories() {
  auto connection = database_.Acquire();
  auto rows =
      connection->Prepare("SELECT MIN(category), COUNT(*) FROM videos WHERE category <> '' "
                          "GROUP BY category COLLATE NOCASE ORDER BY category COLLATE NOCASE");
  std::vector<TCategoryCount> categories;
  while (rows.Step()) categories.push_back({rows.Text(0), rows.Int(1)});
  return categories;
}

void TCatalogue::AddView(std::string_view id) {
  auto connection = database_.Acquire();
  connection->Prepare("UPDATE videos SET views = views + 1 WHERE vid = ?1").Bind(1, id).Run();
}

std::map<std::string, TFileStamp> TCatalogue::Files() {
  std::map<std::string, TFileStamp> files;
  auto connection = database_.Acquire();
  auto rows = connection->Prepare("SELECT relpath, size, mtime, ctime, vid, content FROM videos");
  while (rows.Step())
    files[rows.Text(0)] =
        TFileStamp{rows.Int(1), rows.Int(2), rows.Int(3), rows.Text(4), rows.Text(5)};
  return files;
}

void TCatalogue::Apply(std::vector<TCatalogueVideo> &stored,
                       const std::vector<std::string> &removed) {
  auto connection = database_.Acquire();
  TTransaction transaction(*connection);
  for (const std::string &path : removed)
    connection->Prepare("DELETE FROM videos WHERE relpath = ?1").Bind(1, path).Run();

  for (TCatalogueVideo &video : stored) {
    if (!video.MovedFrom.empty())
      connection->Prepare("UPDATE videos SET relpath = ?1 WHERE relpath = ?2")
          .Bind(1, video.RelPath)
          .Bind(2, video.MovedFrom)
          .Run();
    {
      auto known = connection->Prepare("SELECT vid FROM videos WHERE relpath = ?1");
      known.Bind(1, video.RelPath);
      if (known.Step()) {
        video.Id = known.Text(0);
      } else {
        video.Id.clear();
      }
    }
    if (video.Id.empty()) {
      // A copy of a file listed already draws from its path as well, so that
      // many copies of one file cost a lookup or two each rather than one
      // more for every copy before it.
      for (int attempt = 0; video.Id.empty(); ++attempt) {
        const std::string candidate =
            attempt == 0 ? VideoIdFor(video.Content)
                         : VideoIdFor(video.Content + "\n" + video.RelPath, attempt - 1);
        auto taken = connection->Prepare("SELECT 1 FROM videos WHERE vid = ?1");
        taken.Bind(1, candidate);
        if (!taken.Step()) video.Id = candidate;
      }
    }
    connection
        ->Prepare("INSERT INTO videos(vid, relpath, category, title, description, seconds, "
                  "size, mtime, artist, ctime, content) "
                  "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11) "
                  "ON CONFLICT(relpath) DO UPDATE SET category = excluded.category, "
                  "title = excluded.title, description = excluded.description, "
                  "seconds = excluded.seconds, size = excluded.size, mtime = excluded.mtime, "
                  "artist = excluded.artist, ctime = excluded.ctime, content = excluded.content, "
                  "unavailable = ''")
        .Bind(1, video.Id)
        .Bind(2, video.RelPath)
        .Bind(3, video.Category)
        .Bind(4, video.Title)
        .Bind(5, video.Description)
        .Bind(6, video.Seconds)
        .Bind(7, video.Size)
        .Bind(8, video.MTime)
        .Bind(9, video.Artist)
        .Bind(10, video.CTime)
        .Bind(11, video.Content)
        .Run();
  }
  transaction.Commit();
  ++generation_;
}

void TCatalogue::MarkUnavailable(const std::map<std::string, std::string> &folders) {
  auto connection = database_.Acquire();
  TTransaction transaction(*connection);
  connection->Execute("UPDATE videos SET unavailable = '' WHERE unavailable <> ''");
  for (const auto &[folder, why] : folders)
    connection
        ->Prepare("UPDATE videos SET unavailable = ?1 "
                  "WHERE substr(CAST(relpath AS BLOB), 1, length(CAST(?2 AS BLOB)) + 1) = "
                  "CAST(?2 || '/' AS BLOB)")
        .Bind(1, why)
        .Bind(2, folder)
        .Run();
  transaction.Commit();
}

} // namespace sonabox::server
