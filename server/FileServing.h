#pragma once
// Files answered over HTTP: the reading of a Range header, the check that a
// file lies inside its folder, and the answer itself, sent from the file's
// descriptor.
#include "HttpEngine.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace sonabox::server {

// What a Range header asks of a file of `size` bytes. The satisfiable ranges
// of the list ("a-b", "a-" or the last "-n" bytes; a last position past the
// end means the end; empty elements are allowed) are answered 206 as one part
// from the first byte asked to the last; a list of which no range is
// satisfiable, or with a range that runs backwards or cannot be read, is
// unsatisfiable (416). A unit other than bytes is ignored: the whole file.
struct TByteRange {
  enum TKind { Whole, Part, Unsatisfiable } Kind = Whole;
  int64_t First = 0;
  int64_t Last = -1;
};
TByteRange ReadByteRange(std::string_view header, int64_t size);

// Whether `file` resolves (through every link) to a place below `folder`.
bool InsideFolder(const std::filesystem::path &folder, const std::filesystem::path &file);

// Answers a regular file (never through a final link) with the request's
// byte range: 200 with the whole file, 206 with Content-Range, 416 with
// "bytes */SIZE", 404 when it is no regular file. Every answer of the file
// carries a strong ETag (inode, size, modification time) and Last-Modified;
// If-None-Match, or else If-Modified-Since, that names the file gets 304, and
// a Range whose If-Range does not name it gets the whole file. Returns the
// first byte sent, or -1 when nothing of the file is sent.
int64_t ServeFile(const THttpRequest &request, THttpResponse &response,
                  const std::filesystem::path &file, const std::string &mediaType);

// A refusal: the status with the body "ERROR".
void Refuse(THttpResponse &response, int status);

} // namespace sonabox::server
