// Playlist files: load, walk and save a 10,000-row playlist and a
// 2,000-playlist index, each beside a floor measured in the same run:
//   load floor: reading the file and pugixml parsing the same bytes into its tree
//   walk floor: reading the same attributes from pugixml's tree
//   save floor: writing the same bytes with the same temporary file, fsync and rename
// Each figure is the median of several runs, taken in turns with its floor.
//   memory:     peak RSS of a fresh process that loads the playlist, beside one
//               that parses the same bytes with pugixml
// Targets: load <= 2x, save <= 2x its floor.
//
// Run: build/bench/playlists/bench_playlists [folder]   (default: a new folder under /tmp)
#include "core/common/Files.h"
#include "core/common/TextHelpers.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/DatasetXml.h"
#include "core/playlists/PlayListManager.h"

#include <pugixml.hpp>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace sonabox;

namespace {

constexpr int kRepeats = 21;

struct TTimes {
  double Figure, Floor; // milliseconds
};

double Milliseconds(const std::function<void()> &run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// The median of `kRepeats` runs of each, taken in turns so that both see the
// same machine.
TTimes Measure(const std::function<void()> &figure, const std::function<void()> &floor) {
  std::vector<double> figures, floors;
  for (int i = 0; i < kRepeats; ++i) {
    figures.push_back(Milliseconds(figure));
    floors.push_back(Milliseconds(floor));
  }
  return {Median(figures), Median(floors)};
}

std::string Words(std::mt19937 &random, std::size_t bytes) {
  static const char *const kWords[] = {
      "love",         "rock",  "&",    "\"live\"", "night",  "caf\xC3\xA9", "M\xC3\xBCller",
      "\xE2\x99\xAA", "dance", "it's", "<remix>",  "summer", "blue",        "a\\b"};
  std::string text;
  while (text.size() < bytes) {
    if (!text.empty()) text += ' ';
    text += kWords[random() % std::size(kWords)];
  }
  return text;
}

void BuildPlayList(const std::string &path, int rows) {
  std::mt19937 random(42);
  TDataTable table;
  table.DefineColumns(PlayListColumns());
  table.CreateEmpty();
  for (int i = 0; i < rows; ++i) {
    const int seconds = 30 + static_cast<int>(random() % 600);
    table.Insert();
    table.FieldByName("Title").SetAsString(Words(random, 20 + random() % 70));
    table.FieldByName("Description").SetAsString(Words(random, 80 + random() % 130));
    table.FieldByName("Url").SetAsString(Sha1Hex(std::to_string(i)).substr(0, 11));
    table.FieldByName("Rating").SetAsString(std::to_string(1 + random() % 4) + "." +
                                            std::to_string(random() % 100));
    table.FieldByName("Duration").SetAsString(SecondsToText(std::to_string(seconds)));
    table.FieldByName("DurationSeconds").SetAsInteger(seconds);
    table.FieldByName("Thumbnail")
        .SetAsString("http://127.0.0.1:8472/t/" + Sha1Hex(std::to_string(i)).substr(0, 11) +
                     "/1.jpg");
    table.Post();
  }
  // Some rows deleted, as a playlist in use has them.
  for (int recNo = rows / 10; recNo >= 1; recNo -= 3) {
    table.SetRecNo(recNo * 9);
    table.Delete();
  }
  table.SaveToFile(path);
}

void BuildIndex(const std::string &path, int rows) {
  TDataTable table;
  table.DefineColumns({{"id", TFieldType::AutoInc, 0},
                       {"Name", TFieldType::String, 70},
                       {"FileName", TFieldType::String, 50}});
  table.CreateEmpty();
  for (int i = 0; i < rows; ++i) {
    table.Insert();
    table.FieldByName("Name").SetAsString("Playlist number " + std::to_string(i) +
                                          (i % 3 ? " & friends" : ""));
    table.FieldByName("FileName").SetAsString(Sha1Hex(std::to_string(i)) + ".xml");
    table.Post();
  }
  for (int recNo = rows; recNo >= 1; recNo -= 7) {
    table.SetRecNo(recNo);
    table.Delete();
  }
  table.SaveToFile(path);
}

void Line(const char *what, TTimes times, const char *floorName, const char *target) {
  std::printf("  %-5s %9.2f ms   floor %9.2f ms (%s)   ratio %5.2f%s\n", what, times.Figure,
              times.Floor, floorName, times.Figure / times.Floor, target);
}

void Report(const std::string &title, const std::string &path,
            const std::vector<std::string> &columns) {
  TDataTable table;
  table.LoadFromFile(path);
  table.SaveToFile(path); // as the program keeps it once loaded
  const std::string bytes = ReadWholeFile(path);
  std::printf("%s: %d visible rows, %.2f MB\n", title.c_str(), table.RecordCount(),
              bytes.size() / 1e6);

  Line("load",
       Measure([&] { table.LoadFromFile(path); },
               [&] {
                 const std::string document = ReadWholeFile(path);
                 pugi::xml_document tree;
                 if (!tree.load_buffer(document.data(), document.size())) std::abort();
               }),
       "read + pugixml parse", "   target <= 2");

  pugi::xml_document tree;
  tree.load_buffer(bytes.data(), bytes.size());
  const pugi::xml_node rowData = tree.child("DATAPACKET").child("ROWDATA");
  std::size_t checksum = 0;
  Line("walk",
       Measure(
           [&] {
             for (table.First(); !table.Eof(); table.Next())
               for (const std::string &column : columns)
                 checksum += table.FieldByName(column).AsString().size();
           },
           [&] {
             for (pugi::xml_node row : rowData.children())
               for (const std::string &column : columns)
                 checksum += std::string(row.attribute(column.c_str()).value()).size();
           }),
       "pugixml tree", "");

  const std::string saved = path + ".saved";
  Line("save",
       Measure([&] { table.SaveToFile(saved); },
               [&] { WriteFileAtomically(saved + ".floor", bytes); }),
       "temp + fsync + rename", "   target <= 2");
  if (ReadWholeFile(saved) != bytes)
    std::printf("  ERROR: the saved file differs from the loaded one\n");
  std::printf("  (checksum %zu)\n", checksum);
}

// Peak RSS in KB of this program run again with `mode` on `path`.
long ChildPeakKb(const char *self, const char *mode, const std::string &path) {
  const pid_t child = fork();
  if (child == 0) {
    execl(self, self, "--child", mode, path.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss;
}

int Child(const std::string &mode, const std::string &path) {
  if (mode == "table") {
    TDataTable table;
    table.LoadFromFile(path);
    return table.RecordCount() > 0 ? 0 : 1;
  }
  if (mode == "pugixml") {
    const std::string document = ReadWholeFile(path);
    pugi::xml_document tree;
    return tree.load_buffer(document.data(), document.size()) ? 0 : 1;
  }
  return 0; // "bare": the program doing nothing
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 4 && std::string(argv[1]) == "--child") return Child(argv[2], argv[3]);

  std::string folder;
  if (argc == 2) {
    folder = argv[1];
  } else {
    char pattern[] = "/tmp/bench-playlists-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    folder = pattern;
  }
  if (folder.back() != '/') folder += '/';
  const std::string playList = folder + "playlist.xml";
  const std::string index = folder + "playlists.xml";
  BuildPlayList(playList, 10000);
  BuildIndex(index, 2000);

  Report("playlist", playList,
         {"Added", "Duration", "DurationSeconds", "Description", "Rating", "Thumbnail", "Title",
          "Url"});
  Report("index", index, {"id", "Name", "FileName"});

  const long bare = ChildPeakKb("/proc/self/exe", "bare", playList);
  const long table = ChildPeakKb("/proc/self/exe", "table", playList);
  const long tree = ChildPeakKb("/proc/self/exe", "pugixml", playList);
  std::printf(
      "peak RSS, fresh process loading the playlist: %.1f MB   pugixml parse of it: %.1f MB   "
      "program doing nothing: %.1f MB   ratio over the bare program %.2f\n",
      table / 1024.0, tree / 1024.0, bare / 1024.0,
      static_cast<double>(table - bare) / static_cast<double>(tree - bare));

  if (argc != 2) std::filesystem::remove_all(folder);
  return 0;
}
