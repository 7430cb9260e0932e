#include "Catalogue.h"

#include "common/TextHelpers.h"

namespace sonabox::server {

namespace {

constexpr const char *kSchema = R"sql(
CREATE TABLE IF NOT EXISTS videos(
  id INTEGER PRIMARY KEY,
  vid TEXT NOT NULL UNIQUE,
  relpath TEXT NOT NULL UNIQUE,
  category TEXT NOT NULL,
  title TEXT NOT NULL,
  description TEXT NOT NULL,
  seconds INTEGER NOT NULL,
  size INTEGER NOT NULL,
  mtime INTEGER NOT NULL,
  views INTEGER NOT NULL DEFAULT 0,
  rating TEXT NOT NULL DEFAULT '0.00');
CREATE INDEX IF NOT EXISTS videos_by_title ON videos(title COLLATE NOCASE, id);
CREATE INDEX IF NOT EXISTS videos_by_category
  ON videos(category COLLATE NOCASE, title COLLATE NOCASE, id);
CREATE VIRTUAL TABLE IF NOT EXISTS videos_fts USING fts5(
  title, description, content='videos', content_rowid='id',
  tokenize='porter unicode61 remove_diacritics 2');
CREATE TRIGGER IF NOT EXISTS videos_fts_insert AFTER INSERT ON videos BEGIN
  INSERT INTO videos_fts(rowid, title, description) VALUES (new.id, new.title, new.description);
END;
CREATE TRIGGER IF NOT EXISTS videos_fts_delete AFTER DELETE ON videos BEGIN
  INSERT INTO videos_fts(videos_fts, rowid, title, description)
    VALUES ('delete', old.id, old.title, old.description);
END;
CREATE TRIGGER IF NOT EXISTS videos_fts_update AFTER UPDATE OF title, description ON videos BEGIN
  INSERT INTO videos_fts(videos_fts, rowid, title, description)
    VALUES ('delete', old.id, old.title, old.description);
  INSERT INTO videos_fts(rowid, title, description) VALUES (new.id, new.title, new.description);
END;
)sql";

const std::string kColumns =
    "v.vid, v.relpath, v.category, v.title, v.description, v.seconds, v.size, v.mtime, "
    "v.views, v.rating";

// Relevance: a word in the title weighs ten times one in the description.
const std::string kMatches =
    "(SELECT rowid, bm25(videos_fts, 10.0, 1.0) AS score FROM videos_fts "
    "WHERE videos_fts MATCH ?1) AS f JOIN videos v ON v.id = f.rowid";

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
  return video;
}

bool IsWordByte(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80;
}

} // namespace

std::string VideoIdFor(std::string_view relPath, int attempt) {
  std::string text(relPath);
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
  database_.Acquire()->Execute(kSchema);
}

TFeedPage TCatalogue::Search(std::string_view category, std::string_view keywords,
                             int64_t startIndex, int64_t maxResults) {
  const std::string match = MatchExpression(keywords);
  const bool byWords = !match.empty();
  const bool inCategory = !category.empty();

  // ?1 the match expression, ?2 the category, ?3 limit, ?4 offset
  std::string from, where, order;
  if (byWords) {
    from = kMatches;
    order = "f.score, v.id";
  } else {
    from = "videos v";
    order = inCategory ? "v.category COLLATE NOCASE, v.title COLLATE NOCASE, v.id"
                       : "v.title COLLATE NOCASE, v.id";
  }
  if (inCategory) where = " WHERE v.category = ?2 COLLATE NOCASE";

  auto connection = database_.Acquire();
  TFeedPage page;
  {
    auto count = connection->Prepare("SELECT count(*) FROM " + from + where);
    if (byWords) count.Bind(1, match);
    if (inCategory) count.Bind(2, category);
    if (count.Step()) page.Total = count.Int(0);
  }
  if (startIndex > page.Total || maxResults <= 0) return page;
  auto rows = connection->Prepare("SELECT " + kColumns + " FROM " + from + where +
                                  " ORDER BY " + order + " LIMIT ?3 OFFSET ?4");
  if (byWords) rows.Bind(1, match);
  if (inCategory) rows.Bind(2, category);
  rows.Bind(3, maxResults).Bind(4, startIndex - 1);
  while (rows.Step()) page.Videos.push_back(ReadVideo(rows));
  return page;
}

std::optional<TCatalogueVideo> TCatalogue::Find(std::string_view id) {
  auto connection = database_.Acquire();
  auto row = connection->Prepare("SELECT " + kColumns + " FROM videos v WHERE v.vid = ?1");
  row.Bind(1, id);
  if (!row.Step()) return std::nullopt;
  return ReadVideo(row);
}

void TCatalogue::AddView(std::string_view id) {
  auto connection = database_.Acquire();
  connection->Prepare("UPDATE videos SET views = views + 1 WHERE vid = ?1").Bind(1, id).Run();
}

std::map<std::string, TFileStamp> TCatalogue::Files() {
  std::map<std::string, TFileStamp> files;
  auto connection = database_.Acquire();
  auto rows = connection->Prepare("SELECT relpath, size, mtime, vid FROM videos");
  while (rows.Step()) files[rows.Text(0)] = TFileStamp{rows.Int(1), rows.Int(2), rows.Text(3)};
  return files;
}

void TCatalogue::Apply(std::vector<TCatalogueVideo> &stored,
                       const std::vector<std::string> &removed) {
  auto connection = database_.Acquire();
  TTransaction transaction(*connection);
  for (const std::string &path : removed)
    connection->Prepare("DELETE FROM videos WHERE relpath = ?1").Bind(1, path).Run();

  for (TCatalogueVideo &video : stored) {
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
      for (int attempt = 0; video.Id.empty(); ++attempt) {
        const std::string candidate = VideoIdFor(video.RelPath, attempt);
        auto taken = connection->Prepare("SELECT 1 FROM videos WHERE vid = ?1");
        taken.Bind(1, candidate);
        if (!taken.Step()) video.Id = candidate;
      }
    }
    connection
        ->Prepare("INSERT INTO videos(vid, relpath, category, title, description, seconds, "
                  "size, mtime) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8) "
                  "ON CONFLICT(relpath) DO UPDATE SET category = excluded.category, "
                  "title = excluded.title, description = excluded.description, "
                  "seconds = excluded.seconds, size = excluded.size, mtime = excluded.mtime")
        .Bind(1, video.Id)
        .Bind(2, video.RelPath)
        .Bind(3, video.Category)
        .Bind(4, video.Title)
        .Bind(5, video.Description)
        .Bind(6, video.Seconds)
        .Bind(7, video.Size)
        .Bind(8, video.MTime)
        .Run();
  }
  transaction.Commit();
}

} // namespace sonabox::server
