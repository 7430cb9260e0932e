#pragma once
// The library catalogue: one row per video or audio file, with a full-text
// index over titles, artists and descriptions for keyword search ranked by
// relevance.
#include "Database.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sonabox::server {

struct TCatalogueVideo {
  std::string Id;       // the key in every address: short, URL-safe, stable per file
  std::string RelPath;  // below the library folder, "/"-separated
  std::string Category; // the first-level folder; empty for files directly in the library
  std::string Title;
  std::string Artist; // empty when unknown
  std::string Description;
  int64_t Seconds = 0;
  int64_t Size = 0; // file size, modification and change time (ns) seen by the last scan
  int64_t MTime = 0;
  int64_t CTime = 0;
  std::string Content;     // the file's ContentKey
  std::string Unavailable; // why the file cannot be read now; empty when it can
  std::string MovedFrom;   // set by a scan: the path of a known file now under RelPath
  int64_t Views = 0;
  std::string Rating = "0.00";
};

struct TCategoryCount {
  std::string Name;
  int64_t Videos = 0;
};

struct TFeedPage {
  int64_t Total = 0; // every match, not only this page
  std::vector<TCatalogueVideo> Videos;
};

// What a rescan compares a file with.
struct TFileStamp {
  int64_t Size = 0;
  int64_t MTime = 0;
  int64_t CTime = 0;
  std::string Id;
  std::string Content;
};

// The identifier of a library file: the first 11 characters of the base64url
// form of the SHA-1 of its content key, so that a catalogue made again finds
// the same ids; `attempt` > 0 derives another one for a copy of a file whose
// identifier is taken.
std::string VideoIdFor(std::string_view contentKey, int attempt = 0);

// The full-text query for keywords as typed: each word (a run of letters,
// digits and non-ASCII bytes) quoted, all of them required. Empty when the
// keywords hold no word: then the keywords (symbols such as "&") are looked
// for as they stand, and blank ones match everything. Non-ASCII keywords whose
// words find nothing are looked for as they stand too ("夜" inside "夜に駆ける").
std::string MatchExpression(std::string_view keywords);

class TCatalogue {
public:
  explicit TCatalogue(TDatabase &database); // creates the tables when missing

  // One page of at most 25 videos: those matching the keywords (those holding
  // them as typed when they have no word but symbols, all when blank), in the category when one is
  // given (letter case aside), best match first; without keywords ordered by title. startIndex
  // counts from 1.
  TFeedPage Search(std::string_view category, std::string_view keywords, int64_t startIndex,
                   int64_t maxResults);

  std::optional<TCatalogueVideo> Find(std::string_view id);

  // The videos of these identifiers that the catalogue holds, in one query,
  // in no particular order; identifiers it does not hold are left out.
  std::vector<TCatalogueVideo> FindAll(const std::vector<std::string> &ids);

  // The categories that hold videos, with how many each, ordered by name
  // letter case aside. Names that differ only in case are one category (as
  // the feed's category piece treats them), shown as one of them spells it.
  std::vector<TCategoryCount> Categories();

  // Counts one more play of the video.
  void AddView(std::string_view id);

  // Every catalogued file by relative path.
  std::map<std::string, TFileStamp> Files();

  // Stores new, changed and moved videos (a known path, or the path a moved
  // file had, keeps its id and view count; a new one gets its id here, written
  // back into the record) and drops removed paths, in one transaction.
  void Apply(std::vector<TCatalogueVideo> &stored, const std::vector<std::string> &removed);

  // Marks the videos below each folder (relative, "/"-separated) unavailable
  // with the reason given, and every other video available.
  void MarkUnavailable(const std::map<std::string, std::string> &folders);

private:
  // The ids of every match in page order: best first (a word in the title
  // weighs ten times one in the description), or by title when browsing. Made
  // once per catalogue generation (counted in the database, so that a change
  // made by another server on the same database is seen) and kept for the pages that follow and for
  // repeated searches. A word in the artist weighs five times one in the
  // description. `symbols`: the trimmed keywords, looked for as they stand
  // when `match` is empty.
  std::shared_ptr<const std::vector<int64_t>> RankedIds(TConnection &connection,
                                                        const std::string &match,
                                                        const std::string &symbols,
                                                        std::string_view category);

  struct TRanked {
    uint64_t Generation = 0;
    uint64_t LastUse = 0;
    std::shared_ptr<const std::vector<int64_t>> Ids;
  };

  TDatabase &database_;
  std::mutex cacheMutex_;
  std::unordered_map<std::string, TRanked> cache_;
  uint64_t useClock_ = 0;
  std::size_t cachedIds_ = 0;
};

} // namespace sonabox::server
