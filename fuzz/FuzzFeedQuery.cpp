// Fuzz target: any bytes as the address of a feed request to the server, and
// the feed page written for what it asks.
#include "Feed.h"

using namespace sonabox::server;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view target(reinterpret_cast<const char *>(data), size);
  const std::optional<TFeedQuery> query = ParseFeedQuery(target);
  if (!query) return 0;
  TFeedPage page;
  page.Total = 1;
  page.Videos.resize(1);
  page.Videos[0].Title = query->Keywords;
  page.Videos[0].Description = query->Keywords;
  WriteFeed(page, *query, "127.0.0.1:8472");
  return 0;
}
