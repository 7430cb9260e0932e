// sonabox-cli, run as a program in a private data folder.
#include "core/common/VideoRecord.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "core/settings/Settings.h"
#include "support/TestFolders.h"
#include "support/UnusedPort.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace fs = std::filesystem;
using namespace sonabox;
using namespace sonabox::test;

namespace {

struct TResult {
  int Code = -1;
  std::string Out, Err;
};

const std::string kHost = "127.0.0.1:8472"; // the default video web host

std::string Entry(const std::string &id, const std::string &title, int seconds) {
  return "<entry><media:title type='plain'>" + title +
         "</media:title>"
         "<media:player url='http://" +
         kHost + "/watch?v=" + id +
         "'/>"
         "<media:description type='plain'>About " +
         id +
         "</media:description>"
         "<media:thumbnail url='http://" +
         kHost + "/t/" + id +
         ".jpg'/>"
         "<yt:duration seconds='" +
         std::to_string(seconds) +
         "'/>"
         "<gd:rating average='4.5'/><yt:statistics viewCount='77'/></entry>\n";
}

class Cli : public ::testing::Test {
protected:
  TResult Run(const QStringList &args, const std::string &input = {}) {
    QProcess process;
    process.start(QStringLiteral(SONABOX_CLI), args);
    EXPECT_TRUE(process.waitForStarted());
    process.write(input.data(), static_cast<qint64>(input.size()));
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(60000));
    TResult result;
    result.Code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.Out = process.readAllStandardOutput().toStdString();
    result.Err = process.readAllStandardError().toStdString();
    return result;
  }
  std::string Index() const { return ReadFileBytes(folders_.DataPath() + "playlists.xml"); }
  std::string PlayListFile(const std::string &name) {
    TPlayListManager store(folders_.DataPath(), folders_.DataPath() + "playlists/");
    TDataTable table;
    return store.OpenPlayList(table, name) ? table.FileName() : std::string();
  }
  // Every file of the data folder with its bytes.
  std::map<std::string, std::string> Snapshot() const {
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(folders_.DataPath()))
      if (entry.is_regular_file())
        files[entry.path().string()] = ReadFileBytes(entry.path().string());
    return files;
  }
  // A failing command: one line on stderr, exit 1, and no file changed.
  void ExpectFailure(const QStringList &args, const std::string &message,
                     const std::string &input = {}) {
    const auto before = Snapshot();
    const TResult result = Run(args, input);
    EXPECT_EQ(result.Code, 1) << args.join(' ').toStdString();
    EXPECT_EQ(result.Out, "") << args.join(' ').toStdString();
    EXPECT_NE(result.Err.find(message), std::string::npos) << result.Err;
    EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 1) << result.Err;
    EXPECT_EQ(Snapshot(), before) << args.join(' ').toStdString();
  }
  TestFolders folders_;
};

} // namespace

TEST_F(Cli, CreateListAndDelete) {
  EXPECT_EQ(Run({"list"}).Out, "");
  for (const char *name : {"Rock", "b", "rock"}) EXPECT_EQ(Run({"create", name}).Code, 0) << name;
  EXPECT_EQ(Run({"list"}).Out, "b\nRock\nrock\n");
  ExpectFailure({"create", "Rock"}, "sonabox-cli: A playlist named \"Rock\" already exists.");

  const std::string rockFile = PlayListFile("Rock");
  ASSERT_TRUE(fs::exists(rockFile));
  EXPECT_EQ(Run({"delete", "Rock"}).Code, 0);
  EXPECT_FALSE(fs::exists(rockFile));
  EXPECT_EQ(Run({"list"}).Out, "b\nrock\n");
  ExpectFailure({"delete", "Rock"}, "sonabox-cli: no playlist named \"Rock\"");

  const std::string bFile = PlayListFile("b");
  EXPECT_EQ(Run({"rename", "b", " Blues "}).Code, 0);
  EXPECT_EQ(Run({"list"}).Out, "Blues\nrock\n");
  EXPECT_EQ(PlayListFile("Blues"), bFile);
  ExpectFailure({"rename", "Blues", "rock"}, "A playlist named \"rock\" already exists.");
  ExpectFailure({"rename", "b", "c"}, "sonabox-cli: no playlist named \"b\"");
}

// A data folder that cannot be written (here: one that belongs to another
// user) still lets the playlists be listed, shown and exported.
TEST_F(Cli, AReadOnlyDataFolderCanStillBeRead) {
  ASSERT_EQ(Run({"create", "Mix"}).Code, 0);
  ASSERT_EQ(Run({"add", "Mix"}, Entry("aaa", "A", 65)).Code, 0);
  QStringList asOther;
  if (geteuid() == 0) {
    // Root writes everywhere: the commands run as nobody, who may read.
    fs::permissions(folders_.Root(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    for (const auto &entry : fs::recursive_directory_iterator(folders_.Root()))
      fs::permissions(entry.path(), fs::perms::others_read | fs::perms::others_exec,
                      fs::perm_options::add);
    asOther = {"--reuid=65534", "--regid=65534", "--clear-groups", QStringLiteral(SONABOX_CLI)};
  } else {
    fs::permissions(folders_.DataPath(), fs::perms::owner_write, fs::perm_options::remove);
  }
  const auto run = [&](QStringList args) {
    if (asOther.isEmpty()) return Run(args);
    QProcess process;
    process.start("setpriv", asOther + args);
    process.waitForFinished(60000);
    return TResult{process.exitCode(), process.readAllStandardOutput().toStdString(),
                   process.readAllStandardError().toStdString()};
  };
  const auto before = Snapshot();
  const TResult list = run({"list"});
  EXPECT_EQ(list.Code, 0) << list.Err;
  EXPECT_EQ(list.Out, "Mix\n");
  EXPECT_EQ(run({"show", "Mix"}).Out.rfind("A\t1:05\t65\taaa", 0), 0u);
  EXPECT_EQ(run({"export", "Mix", "--format", "m3u"}).Code, 0);
  const TResult create = run({"create", "New"});
  EXPECT_EQ(create.Code, 1);
  EXPECT_NE(create.Err.find("cannot be written"), std::string::npos) << create.Err;
  EXPECT_EQ(Snapshot(), before);
  fs::permissions(folders_.DataPath(), fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(Cli, AddShowAndRemove) {
  ASSERT_EQ(Run({"create", "Mix"}).Code, 0);
  const std::string feed = "<feed><openSearch:totalResults>3</openSearch:totalResults>" +
                           Entry("aaa", "First\tSong", 65) + Entry("bbb", "Second", 5) +
                           Entry("ccc", "Third", 3600) + "</feed>";
  const TResult added = Run({"add", "Mix"}, feed);
  EXPECT_EQ(added.Code, 0) << added.Err;
  EXPECT_EQ(added.Out, "3 videos added to \"Mix\"\n");
  const std::string base = "http://" + kHost + "/t/";
  EXPECT_EQ(Run({"show", "Mix"}).Out, "First Song\t1:05\t65\taaa\t4.5\t" + base +
                                          "aaa.jpg\n"
                                          "Second\t0:05\t5\tbbb\t4.5\t" +
                                          base +
                                          "bbb.jpg\n"
                                          "Third\t60:00\t3600\tccc\t4.5\t" +
                                          base + "ccc.jpg\n");
  EXPECT_EQ(Run({"add", "Mix"}, "no entries here").Out, "0 videos added to \"Mix\"\n");

  EXPECT_EQ(Run({"remove", "Mix", "2"}).Code, 0);
  EXPECT_EQ(Run({"show", "Mix"}).Out.find("Second"), std::string::npos);
  // The removed row stays in the file, marked deleted.
  EXPECT_NE(ReadFileBytes(PlayListFile("Mix")).find("RowState=\"6\""), std::string::npos);
  ExpectFailure({"remove", "Mix", "3"}, "sonabox-cli: playlist \"Mix\" has no row 3");
  ExpectFailure({"remove", "Mix", "0"}, "has no row 0");
  ExpectFailure({"add", "Nothing"}, "sonabox-cli: no playlist named \"Nothing\"", feed);
  ExpectFailure({"show", "Nothing"}, "sonabox-cli: no playlist named \"Nothing\"");
  ExpectFailure({"remove", "Nothing", "1"}, "sonabox-cli: no playlist named \"Nothing\"");
  EXPECT_EQ(Run({"add", "Mix"}, Entry("ddd", "Fourth", 5)).Out, "1 video added to \"Mix\"\n");
}

TEST_F(Cli, ExportAndImport) {
  const std::string dataHost = "127.0.0.1:" + std::to_string(UnusedPort());
  StoreWriteString("VideoDataHost", dataHost);
  ASSERT_EQ(Run({"create", "Mix"}).Code, 0);
  ASSERT_EQ(Run({"add", "Mix"}, Entry("aaa", "Rock &amp; Roll", 65) + Entry("bbb", "B", 0)).Code,
            0);
  const TResult m3u = Run({"export", "Mix", "--format", "m3u"});
  EXPECT_EQ(m3u.Code, 0) << m3u.Err;
  EXPECT_EQ(m3u.Out, "#EXTM3U\n#EXTINF:65,Rock & Roll\nhttp://" + kHost +
                         "/v/aaa\n#EXTINF:-1,B\nhttp://" + kHost + "/v/bbb\n");

  const TResult xspf = Run({"export", "Mix", "--format", "xspf"});
  ASSERT_EQ(xspf.Code, 0) << xspf.Err;
  const TResult imported = Run({"import", "Copy"}, xspf.Out);
  EXPECT_EQ(imported.Code, 0) << imported.Err;
  // Nothing answers on the data host: the unknown length stays unknown, and
  // the summary says why.
  const std::string notLookedUp = ". Titles and lengths the file lacks could not be looked up: "
                                  "the video service at " +
                                  dataHost + " could not be reached";
  EXPECT_EQ(imported.Out, "2 videos imported into \"Copy\"" + notLookedUp + "\n");
  EXPECT_EQ(Run({"show", "Copy"}).Out, Run({"show", "Mix"}).Out);

  // An existing playlist takes only what it does not hold.
  const TResult merged =
      Run({"import", "Mix"}, m3u.Out + "http://" + kHost + "/watch?v=ccc\nhttp://x.example/a\n");
  EXPECT_EQ(merged.Code, 0) << merged.Err;
  EXPECT_EQ(merged.Out, "1 video imported into \"Mix\"; skipped: 2 already in it, 1 not a video "
                        "of this program (web host " +
                            kHost + ")" + notLookedUp + "\n");
  const std::string shown = Run({"show", "Mix"}).Out;
  EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 3) << shown;

  ExpectFailure({"import", "Mix"},
                "sonabox-cli: The file is not a well-formed XSPF playlist: line 1",
                "<playlist><trackList>");
  ExpectFailure({"import", "New"}, "sonabox-cli: The file holds no video of this program",
                "http://x.example/a\n");
  ExpectFailure({"export", "Nothing", "--format", "m3u"}, "sonabox-cli: no playlist named");
  EXPECT_EQ(Run({"list"}).Out, "Copy\nMix\n");
}

TEST_F(Cli, ABrokenPlayListIsLeftAlone) {
  ASSERT_EQ(Run({"create", "Broken"}).Code, 0);
  const std::string file = PlayListFile("Broken");
  const std::string broken = "<?xml version=\"1.0\"?><DATAPACKET><METADATA><FIELDS>";
  WriteFileBytes(file, broken);
  const std::string error = "sonabox-cli: The playlist \"Broken\" cannot be opened: File \"" +
                            file + "\" is not a valid dataset";
  ExpectFailure({"show", "Broken"}, error);
  ExpectFailure({"add", "Broken"}, error, Entry("aaa", "A", 1));
  ExpectFailure({"remove", "Broken", "1"}, error);
  EXPECT_EQ(ReadFileBytes(file), broken);
  // A damaged index stops every command and stays as it was.
  WriteFileBytes(folders_.DataPath() + "playlists.xml", "garbage");
  ExpectFailure({"list"}, "sonabox-cli: File \"" + folders_.DataPath() +
                              "playlists.xml\" is not a valid dataset");
  EXPECT_EQ(Index(), "garbage");
}

TEST_F(Cli, BadArgumentsPrintTheUsage) {
  const QStringList cases[] = {{},
                               {"play"},
                               {"list", "x"},
                               {"show"},
                               {"create", "a", "b"},
                               {"remove", "a"},
                               {"remove", "a", "two"},
                               {"export", "a"},
                               {"export", "a", "--format", "wav"},
                               {"export", "a", "m3u", "--format"},
                               {"import"}};
  for (const QStringList &args : cases) {
    const TResult result = Run(args);
    EXPECT_EQ(result.Code, 2) << args.join(' ').toStdString();
    EXPECT_EQ(result.Err.rfind("usage: sonabox-cli list | show NAME", 0), 0u) << result.Err;
  }
  EXPECT_FALSE(fs::exists(folders_.DataPath() + "playlists.xml")); // nothing was touched
}

// The program's store and a loop of sonabox-cli commands change the same
// playlists side by side for a minute: every change of each survives, and
// nothing deleted comes back.
TEST_F(Cli, SoakTheProgramAndTheCliSideBySide) {
  const std::string feed = folders_.Root() + "feed.xml";
  const std::string m3u = folders_.Root() + "list.m3u";
  WriteFileBytes(feed, "<feed>" + Entry("cli", "From the CLI", 5) + "</feed>");
  WriteFileBytes(m3u, "#EXTM3U\nhttp://" + kHost + "/v/imp\n");
  // Each round: create, add, rename, import into a new playlist, and every
  // second round a deletion. It stops at the first failing command.
  const std::string script =
      "set -e; cli=\"$1\"; end=$((SECONDS+60)); i=0; while [ $SECONDS -lt $end ]; do "
      "\"$cli\" create C$i >/dev/null; \"$cli\" add C$i <\"$2\" >/dev/null; "
      "\"$cli\" rename C$i D$i; \"$cli\" import E$i <\"$3\" >/dev/null; "
      "if [ $((i % 2)) = 0 ]; then \"$cli\" delete D$i; fi; i=$((i+1)); done; echo $i";
  QProcess loop;
  loop.start("bash", {"-c", QString::fromStdString(script), "soak", QStringLiteral(SONABOX_CLI),
                      QString::fromStdString(feed), QString::fromStdString(m3u)});
  ASSERT_TRUE(loop.waitForStarted());

  TPlayListManager program(folders_.DataPath(), folders_.DataPath() + "playlists/");
  const TVideo video{.Title = "From the program", .Url = "prog"};
  int rounds = 0;
  std::set<std::string> expected;
  while (loop.state() != QProcess::NotRunning) {
    const std::string n = std::to_string(rounds);
    AddVideosToPlayList(program, "P" + n, true, {video});
    EXPECT_EQ(program.RenamePlayList("P" + n, "R" + n), "R" + n);
    AddVideosToPlayList(program, "R" + n, false, {video});
    if (rounds % 3 == 0)
      program.DeletePlayList("R" + n);
    else
      expected.insert("R" + n);
    program.TakeOutsideChanges();
    ++rounds;
    loop.waitForFinished(10);
  }
  ASSERT_EQ(loop.exitCode(), 0) << loop.readAllStandardError().toStdString();
  const int cliRounds = std::stoi(loop.readAllStandardOutput().toStdString());
  ASSERT_GT(cliRounds, 2);
  ASSERT_GT(rounds, 2);
  for (int i = 0; i < cliRounds; ++i) {
    expected.insert("E" + std::to_string(i));
    if (i % 2) expected.insert("D" + std::to_string(i));
  }

  program.TakeOutsideChanges();
  const std::vector<std::string> names = program.PlayListNames();
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
  const std::string listed = Run({"list"}).Out;
  std::string joined;
  for (const std::string &name : names) joined += name + "\n";
  EXPECT_EQ(listed, joined);
  // Every playlist holds its rows, and no file is left that no playlist names.
  for (const std::string &name : names) {
    TDataTable table;
    ASSERT_TRUE(program.OpenPlayList(table, name)) << name;
    EXPECT_EQ(table.RecordCount(), name[0] == 'R' ? 2 : 1) << name;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(folders_.DataPath() + "playlists/"),
                          fs::directory_iterator{}),
            static_cast<long>(names.size()));
}
