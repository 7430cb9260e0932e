// Fuzz target: any bytes as a dataset document. A document that is read must
// be written, read back and written again to the same bytes.
#include "core/playlists/DatasetXml.h"

#include <cstdio>
#include <cstdlib>

using namespace sonabox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  TDatasetContent content;
  std::string error;
  if (!ReadDatasetXml(std::string(reinterpret_cast<const char *>(data), size), content, error))
    return 0;
  const std::string written = WriteDatasetXml(content);
  TDatasetContent again;
  if (!ReadDatasetXml(written, again, error)) {
    std::fprintf(stderr, "the written document is refused: %s\n", error.c_str());
    std::abort();
  }
  if (WriteDatasetXml(again) != written) {
    std::fprintf(stderr, "the document is not written the same way twice\n");
    std::abort();
  }
  return 0;
}
