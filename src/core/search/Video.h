#pragma once
// The video record as the web writes it: the reading of a feed page and of
// one feed entry, and the writing of a share entry.
#include "core/common/VideoRecord.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sonabox {

// Fills every field of `video` from the text of one <entry> element (feed or
// share entry). Never fails: what is not found stays empty. The watch address
// is matched on `webHost` (callers read VideoWebHost() once for a whole page),
// every character of which is literal. The texts are kept as written. The
// artist is the entry's author (<author><name>...</name></author>).
void ParseVideoEntry(std::string_view entry, TVideo &video, std::string_view webHost);

// How the texts of entries are written. A feed page is XML: the entities of
// each title and description are decoded (before the description is cut), so
// both hold the text as typed. The entries of a share are the program's own
// (ToShareEntry), which hold the texts as typed already.
enum class TEntryTexts { Xml, AsTyped };

// What a feed page (or the entries of a share) holds: the count after
// "totalResults>" when there is one that fits 32 bits, and one record for
// every "<entry>...</entry>", in order.
struct TFeedEntries {
  std::optional<int32_t> TotalResults;
  TVideos Videos;
};
TFeedEntries ParseFeedEntries(std::string_view page, std::string_view webHost, TEntryTexts texts);

// The text with the XML entities &amp; &lt; &gt; &quot; &apos; and the
// character references &#N; and &#xH; replaced by their characters (as
// UTF-8). A reference to a character that XML does not allow, or anything
// else that looks like one, stays as it is.
std::string DecodeXmlEntities(std::string_view text);

// The share entry of a video, on the configured web host. Values go in
// unescaped, the artist within the title (TitleWithArtist); the entry is read
// back by ParseVideoEntry.
std::string ToShareEntry(const TVideo &video);

} // namespace sonabox
