#pragma once
// The video data feed: reading the query of a feed request and writing the
// answer, one <entry> per video in the form the program's entry reader expects.
#include "Catalogue.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonabox::server {

inline constexpr int64_t kMaxFeedResults = 25;

struct TFeedQuery {
  std::string Keywords; // percent-decoded
  int64_t StartIndex = 1;
  int64_t MaxResults = kMaxFeedResults;
};

// Reads the query of a raw request target. The keywords are everything
// between "vq=" and "&orderby=" (up to the next "&" when there is no
// "&orderby="), because the program sends an ampersand typed among the
// keywords unescaped. A missing start index is 1 and missing maximum 25; a
// maximum above 25 is lowered to 25. Nothing when either is not a whole number
// from 1 to 2^31 - 1.
std::optional<TFeedQuery> ParseFeedQuery(std::string_view target);

// "%XX" with two hexadecimal digits becomes its byte; everything else,
// including "+" and a "%" without two digits, stays as it is.
std::string PercentDecode(std::string_view text);

// Appends the text with &, <, >, ' and " written as entities, with the
// control characters that XML 1.0 does not allow left out, and with bytes that
// are not UTF-8 replaced by U+FFFD.
void AppendXmlEscaped(std::string &out, std::string_view text);

// Appends the text of a title or description element: &, < and > written as
// entities (the program decodes them, so "Tom & Jerry" reaches the user as
// typed), quotes as they are, the control characters that XML 1.0 does not
// allow left out, and bytes that are not UTF-8 replaced by U+FFFD.
void AppendEntryText(std::string &out, std::string_view text);

// The feed document: the total count first, then one entry per video of the
// page, its artist (when known) as the entry's <author><name>. Watch, player
// and thumbnail addresses name `webHost`.
std::string WriteFeed(const TFeedPage &page, const TFeedQuery &query, std::string_view webHost);

// The answer to a lookup of videos by identifier, "/feeds/api/lookup" on the
// feed host: a JSON object whose "videos" holds one object per video with its
// "id", "title", "artist", "seconds", "description" and "rating" (texts with
// bytes that are not UTF-8 replaced by U+FFFD).
std::string WriteLookup(const std::vector<TCatalogueVideo> &videos);

// The categories of the library, answered at "/feeds/api/categories" on the
// feed host:
//   <categories><category term='Music' count='12'/>...</categories>
// one element per category that holds videos, terms escaped as attribute text.
std::string WriteCategories(const std::vector<TCategoryCount> &categories);

} // namespace sonabox::server
