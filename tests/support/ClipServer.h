#pragma once
// A local video web host for playback tests and benchmarks: serves bytes at
// exact paths on 127.0.0.1 (an ephemeral port), answering byte ranges, and
// records the paths asked for. MakeClip makes a small real video with ffmpeg.
#include <httplib.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sonabox::test {

// A clip of the given length (160×120 test picture with a tone), made by ffmpeg
// in the folder; its bytes, or empty when ffmpeg failed.
std::string MakeClip(const std::string &folder, int seconds);

class ClipServer {
public:
  ClipServer();
  ~ClipServer();
  ClipServer(const ClipServer &) = delete;
  ClipServer &operator=(const ClipServer &) = delete;

  std::string Host() const; // "127.0.0.1:port"
  void Serve(const std::string &path, std::string bytes);
  std::vector<std::string> RequestedPaths() const;

private:
  httplib::Server server_;
  std::thread thread_;
  int port_ = -1;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> files_;
  std::vector<std::string> requested_;
};

} // namespace sonabox::test
