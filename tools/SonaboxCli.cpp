// sonabox-cli: the user's playlists from the command line, in the same data
// folder as the program.
//
//   sonabox-cli list              every playlist name, one a line
//   sonabox-cli show NAME         the visible rows, tab-separated: Title, Duration,
//                                 DurationSeconds, Url, Rating, Thumbnail
//   sonabox-cli create NAME       a new, empty playlist
//   sonabox-cli delete NAME       removes the playlist
//   sonabox-cli rename NAME NEW   gives the playlist a new name
//   sonabox-cli add NAME          stores every <entry> of the feed text on stdin
//   sonabox-cli remove NAME N     deletes the N-th visible row (from 1)
//   sonabox-cli export NAME --format m3u|xspf
//                                 writes the playlist as M3U or XSPF on stdout
//   sonabox-cli import NAME       reads an M3U or XSPF file on stdin into NAME:
//                                 a new playlist, or merged into the existing one
//
// A failure prints one line on stderr and exits 1, and nothing is written;
// bad arguments print the usage line and exit 2. The program may run at the
// same time: every change is made to the files as they are on disk, under the
// store's lock. A data folder that cannot be written still allows list, show
// and export.
#include "core/common/TextHelpers.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListExchange.h"
#include "core/playlists/PlayListManager.h"
#include "core/search/Video.h"
#include "core/search/VideoLookup.h"
#include "core/settings/Settings.h"
#include "core/web/ServiceHosts.h"
#include "core/web/WebStuff.h"

#include <QCoreApplication>

#include <clocale>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

using namespace sonabox;

namespace {

const char kUsage[] =
    "usage: sonabox-cli list | show NAME | create NAME | delete NAME | rename NAME "
    "NEW | add NAME < FEED | remove NAME N | export NAME --format m3u|xspf | "
    "import NAME < FILE";

struct EUsage {};

class ECommandFailed : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

std::string NoPlayList(const std::string &name) { return "no playlist named \"" + name + "\""; }

// A field for one tab-separated line: tabs and line breaks become spaces.
std::string OneLine(std::string text) {
  for (char &c : text)
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  return text;
}

void Show(TPlayListManager &store, const std::string &name) {
  TDataTable table;
  if (!store.OpenPlayList(table, name)) throw ECommandFailed(NoPlayList(name));
  std::string out;
  for (table.First(); !table.Eof(); table.Next()) {
    const char *separator = "";
    for (const char *column :
         {"Title", "Duration", "DurationSeconds", "Url", "Rating", "Thumbnail"}) {
      out += separator;
      out += OneLine(table.FieldByName(column).AsString());
      separator = "\t";
    }
    out += '\n';
  }
  std::cout << out;
}

// Adds only to a playlist that exists: a mistyped name makes no new playlist.
void Add(TPlayListManager &store, const std::string &name) {
  if (!store.HasPlayList(name)) throw ECommandFailed(NoPlayList(name));
  const std::string input((std::istreambuf_iterator<char>(std::cin)),
                          std::istreambuf_iterator<char>());
  const TVideos videos = ParseFeedEntries(input, VideoWebHost(), TEntryTexts::Xml).Videos;
  if (!videos.empty()) AddVideosToPlayList(store, name, false, videos);
  std::cout << VideosAddedText(videos.size(), name) << '\n';
}

void Remove(TPlayListManager &store, const std::string &name, int row) {
  if (!store.HasPlayList(name)) throw ECommandFailed(NoPlayList(name));
  TDataTable table;
  store.ChangePlayList(table, name, [&](TDataTable &playList) {
    if (row < 1 || row > playList.RecordCount())
      throw ECommandFailed("playlist \"" + name + "\" has no row " + std::to_string(row));
    playList.SetRecNo(row);
    playList.Delete();
  });
}

void Export(TPlayListManager &store, const std::string &name, TPlayListFormat format) {
  TDataTable table;
  if (!store.OpenPlayList(table, name)) throw ECommandFailed(NoPlayList(name));
  const TExportedPlayList file =
      WritePlayListFile(PlayListVideos(table), format, name, VideoWebHost());
  std::cout << file.Text;
  if (file.LeftOut > 0)
    std::cerr << file.LeftOut << " videos left out: their identifiers make no address\n";
}

// Into a new playlist when none has the name, else merged into it.
void Import(TPlayListManager &store, const std::string &name) {
  std::string input;
  char buffer[65536];
  while (std::cin.read(buffer, sizeof buffer) || std::cin.gcount() > 0) {
    input.append(buffer, static_cast<std::size_t>(std::cin.gcount()));
    if (input.size() > kMaxPlayListFileBytes) break; // enough to be refused
  }
  const bool create = !store.HasPlayList(name);
  const std::string host = VideoWebHost();
  TPlayListFile file = ReadPlayListFile(input, host);
  const std::string notLookedUp = LookUpVideos(file.Videos, kExchangeDeadline);
  TImportReport report = ImportPlayList(store, name, create, file, host);
  report.NotLookedUp = notLookedUp;
  std::cout << report.Summary(create ? TrimPlayListName(name) : name, host) << '\n';
}

int Run(const std::vector<std::string> &args) {
  if (args.empty()) throw EUsage{};
  const std::string &command = args[0];
  const std::size_t expected = command == "list"     ? 1
                               : command == "remove" ? 3
                               : command == "rename" ? 3
                               : command == "export" ? 4
                                                     : 2;
  if (args.size() != expected) throw EUsage{};
  if (command != "list" && command != "show" && command != "create" && command != "delete" &&
      command != "rename" && command != "add" && command != "remove" && command != "export" &&
      command != "import")
    throw EUsage{};
  int row = 0;
  if (command == "remove" && !TryParseInt32(args[2], row)) throw EUsage{};
  if (command == "export" && (args[2] != "--format" || (args[3] != "m3u" && args[3] != "xspf")))
    throw EUsage{};

  const TSettings settings;
  TPlayListManager store(settings.DataPath(), settings.PlayListPath());
  if (command == "list") {
    for (const std::string &name : store.PlayListNames()) std::cout << name << '\n';
  } else if (command == "show") {
    Show(store, args[1]);
  } else if (command == "create") {
    TDataTable table;
    store.CreatePlayList(table, args[1]);
  } else if (command == "delete") {
    if (!store.HasPlayList(args[1]) || store.DeletePlayList(args[1]).RowNumber == 0)
      throw ECommandFailed(NoPlayList(args[1]));
  } else if (command == "rename") {
    if (!store.HasPlayList(args[1])) throw ECommandFailed(NoPlayList(args[1]));
    store.RenamePlayList(args[1], args[2]);
  } else if (command == "add") {
    Add(store, args[1]);
  } else if (command == "export") {
    Export(store, args[1], args[3] == "m3u" ? TPlayListFormat::M3u : TPlayListFormat::Xspf);
  } else if (command == "import") {
    Import(store, args[1]);
  } else {
    Remove(store, args[1], row);
  }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv); // the settings store is read through Qt
  std::setlocale(LC_NUMERIC, "C");
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EUsage &) {
    std::cerr << kUsage << '\n';
    return 2;
  } catch (const std::exception &error) {
    std::cerr << "sonabox-cli: " << error.what() << '\n';
    return 1;
  }
}
