// Fuzz target: any bytes as a feed answer, read as a search reads a page.
#include "core/common/TextHelpers.h"
#include "core/search/PerlRegEx.h"
#include "core/search/Video.h"

using namespace sonabox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  int32_t total = 0;
  TryParseInt32(RegExFirstMatch("totalResults>([0-9]{1,})<", text, 1), total);
  std::vector<std::string> entries;
  RegExAllMatches("<entry>(.*?)</entry>", text, 1, entries);
  TVideo video;
  for (const std::string &entry : entries) ParseVideoEntry(entry, video, "127.0.0.1:8472");
  ParseVideoEntry(text, video, "127.0.0.1:8472");
  return 0;
}
