// The update road as the user meets it, against a real sonabox-server that
// signs its answer with the test's own key: the question, the download with
// its progress, the installer started and the program ended; and every road on
// which nothing may be started.
#include "ui/update/SoftwareUpdateDialog.h"
#include "core/common/TextHelpers.h"
#include "core/settings/Settings.h"
#include "core/update/Updaters.h"
#include "server/ServerFixture.h"
#include "support/EventLoop.h"
#include "support/TestKeys.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>

using namespace sonabox;
namespace fs = std::filesystem;

namespace {

// exec() results of RunProgram other than the program's own exit code 0.
constexpr int kStopped = 77;
constexpr int kTimedOut = 78;

// Answers the message boxes that open, like the user would, after letting the
// test act on each one first (`onBox` may change the world, then says which
// button to press).
class BoxAnswerer : public QObject {
public:
  struct Seen {
    QString Text;
    QMessageBox::Icon Icon;
    QString Informative;
  };
  explicit BoxAnswerer(std::function<QMessageBox::StandardButton(const QMessageBox &)> onBox)
      : onBox_(std::move(onBox)) {
    connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::Poll);
    timer_.start(2);
  }
  const std::vector<Seen> &Boxes() const { return boxes_; }

private:
  void Poll() {
    for (QWidget *widget : QApplication::topLevelWidgets()) {
      auto *box = qobject_cast<QMessageBox *>(widget);
      if (!box || !box->isVisible()) continue;
      boxes_.push_back({box->text(), box->icon(), box->informativeText()});
      QAbstractButton *button = box->button(onBox_(*box));
      if (!button) button = box->buttons().first();
      button->click();
    }
  }
  QTimer timer_;
  std::function<QMessageBox::StandardButton(const QMessageBox &)> onBox_;
  std::vector<Seen> boxes_;
};

// Runs the application's own event loop, as the program does, until the
// program ends it (0), `stop` holds while no modal window is open (kStopped),
// or 20 seconds have passed (kTimedOut).
int RunProgram(const std::function<bool()> &stop) {
  QTimer poll, limit;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!QApplication::activeModalWidget() && stop()) QCoreApplication::exit(kStopped);
  });
  QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(kTimedOut); });
  poll.start(2);
  limit.start(20000);
  return QApplication::exec();
}

const QString kQuestion = "A new update has been found, do you want to download now?";
const QString kDownloadError =
    "Error downloading update\rPlease check your connection and try again";
const QString kNotVerified = "The update could not be verified and was not installed.";
const QString kNotStarted = "The update was downloaded but its installer could not be started.";

class SoftwareUpdateDialogTest : public ::testing::Test {
protected:
  ~SoftwareUpdateDialogTest() override {
    delete dSoftwareUpdate;
    window.reset();
    // Workers still finishing their last notification release themselves.
    test::ProcessEventsUntil([] { return true; });
  }

  // The service offers `build`; its answer is signed with `signer` (none: an
  // answer without a signature). The installer is a shell script that leaves
  // a marker file, padded so that its download reports progress many times.
  void StartServer(const std::optional<test::TKeyPair> &signer, std::size_t padding = 1 << 20,
                   int build = 41) {
    server = std::make_unique<test::TRunningServer>([&](server::TServerOptions &options) {
      options.LatestBuild = build;
      if (signer) {
        options.UpdateKey = options.Data.parent_path() / "update-key.pem";
        test::WriteFileBytes(options.UpdateKey.string(), signer->PrivatePem);
      }
    });
    marker = server->Root().string() + "installer-ran";
    asset = (server->Root() / "assets" / "Sonabox.run").string();
    installer =
        "#!/bin/sh\necho ran > '" + marker + "'\nexit 0\n" + std::string(padding, '#') + "\n";
    test::WriteFileBytes(asset, installer);
  }

  // Start-up as the program does it: settings, a shown window, the update
  // dialog (which starts the check), all pointed at the test's server.
  void StartProgram() {
    StoreWriteString("ServiceHost", "127.0.0.1:" + std::to_string(server->Server().ServicePort()));
    settings = std::make_unique<TSettings>();
    window = std::make_unique<QWidget>();
    window->show();
    dialog = new TdSoftwareUpdate(window.get(), settings->TempPath(), trusted.PublicPem);
  }

  bool MarkerAppears() {
    return test::ProcessEventsUntil([&] { return fs::exists(marker); }, std::chrono::seconds(10));
  }

  test::TKeyPair trusted = test::MakeKeyPair();
  std::unique_ptr<test::TRunningServer> server;
  std::unique_ptr<TSettings> settings;
  std::unique_ptr<QWidget> window;
  TdSoftwareUpdate *dialog = nullptr;
  std::string marker, asset, installer;
};

} // namespace

TEST_F(SoftwareUpdateDialogTest, YesDownloadsStartsTheSignedInstallerAndEnds) {
  StartServer(trusted);
  StartProgram();
  EXPECT_EQ(dialog->lbCurrentBuild->text(), "Current Build: 40");
  EXPECT_FALSE(dialog->isVisible());
  // A partial installer left by an earlier run is replaced.
  test::WriteFileBytes(settings->TempPath() + "Sonabox.run", "left over");

  std::vector<int> progress;
  bool dialogStoodIn = true;
  QObject::connect(dialog->ProgressBar1, &QProgressBar::valueChanged, [&](int value) {
    progress.push_back(value);
    dialogStoodIn = dialogStoodIn && dialog->isVisible() && !window->isVisible();
  });
  BoxAnswerer answerer([](const QMessageBox &) { return QMessageBox::Yes; });

  EXPECT_EQ(RunProgram([] { return false; }), 0) << "the program ends itself";
  ASSERT_EQ(answerer.Boxes().size(), 1u);
  EXPECT_EQ(answerer.Boxes()[0].Text, kQuestion);
  EXPECT_EQ(answerer.Boxes()[0].Icon, QMessageBox::Information);
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(dialogStoodIn) << "the dialog replaces the main window while downloading";
  EXPECT_EQ(progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

  ASSERT_TRUE(MarkerAppears()) << "the installer was started";
  const std::string path = settings->TempPath() + "Sonabox.run";
  EXPECT_EQ(test::ReadFileBytes(path), installer);
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_all);
}

TEST_F(SoftwareUpdateDialogTest, NoLeavesTheMainWindowAndDownloadsNothing) {
  StartServer(trusted);
  StartProgram();
  BoxAnswerer answerer([](const QMessageBox &) { return QMessageBox::No; });
  EXPECT_EQ(RunProgram([&] { return !answerer.Boxes().empty() && !dialog->Check; }), kStopped);
  ASSERT_EQ(answerer.Boxes().size(), 1u);
  EXPECT_EQ(answerer.Boxes()[0].Text, kQuestion);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(dialog->Download.isNull());
  EXPECT_FALSE(fs::exists(settings->TempPath() + "Sonabox.run"));
}

TEST_F(SoftwareUpdateDialogTest, NoIsRememberedForThatBuildAtTheNextStart) {
  StartServer(trusted);
  StartProgram();
  BoxAnswerer answerer([](const QMessageBox &) { return QMessageBox::No; });
  EXPECT_EQ(RunProgram([&] { return !answerer.Boxes().empty() && !dialog->Check; }), kStopped);
  ASSERT_EQ(answerer.Boxes().size(), 1u);

  // The next start, against the same service and store.
  delete dSoftwareUpdate;
  StartProgram();
  EXPECT_EQ(RunProgram([&] { return !dialog->Check; }), kStopped);
  EXPECT_EQ(answerer.Boxes().size(), 1u) << "build 41 was declined";
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(dialog->isVisible());
}

// Asked by the user, the check says when nothing is offered, and offers again
// a build declined before, naming it.
TEST_F(SoftwareUpdateDialogTest, CheckingByHandSaysWhatItFound) {
  for (const int offered : {40, 41}) {
    SCOPED_TRACE(offered);
    StartServer(trusted, 1 << 10, offered);
    StoreWriteString("declinedBuild", "41");
    StartProgram();
    BoxAnswerer answerer([](const QMessageBox &) { return QMessageBox::No; });
    EXPECT_EQ(RunProgram([&] { return !dialog->Check; }), kStopped);
    EXPECT_TRUE(answerer.Boxes().empty()) << "at start nothing is said";
    dialog->CheckNow();
    EXPECT_EQ(RunProgram([&] { return !answerer.Boxes().empty() && !dialog->Check; }), kStopped);
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    if (offered == 40) {
      EXPECT_EQ(answerer.Boxes()[0].Text, "Sonabox is up to date.");
    } else {
      EXPECT_EQ(answerer.Boxes()[0].Text, kQuestion);
      EXPECT_EQ(answerer.Boxes()[0].Informative, "Sonabox build 41 is offered; this is build 40.");
    }
    delete dSoftwareUpdate;
    window.reset();
    server.reset();
  }
}

TEST_F(SoftwareUpdateDialogTest, ADeclinedBuildIsNotOfferedAgainANewerOneIs) {
  const struct {
    const char *declined; // the stored answer of an earlier start
    int offered;
    bool asked;
  } cases[] = {
      {"41", 41, false},
      {"41", 42, true},
      {"42", 41, false},
      {"not a build", 41, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.declined) + " declined, " + std::to_string(c.offered) + " offered");
    StartServer(trusted, 16, c.offered);
    StoreWriteString(store_key::kDeclinedBuild, c.declined);
    StartProgram();
    BoxAnswerer answerer([](const QMessageBox &) { return QMessageBox::No; });
    EXPECT_EQ(RunProgram([&] { return !dialog->Check; }), kStopped);
    EXPECT_EQ(answerer.Boxes().size(), c.asked ? 1u : 0u);
    EXPECT_EQ(StoreReadString(store_key::kDeclinedBuild),
              c.asked ? std::to_string(c.offered) : c.declined);
    EXPECT_TRUE(window->isVisible());

    delete dSoftwareUpdate;
    window.reset();
    server.reset();
  }
}

TEST_F(SoftwareUpdateDialogTest, NothingIsAskedWhenNoNewerBuildIsOffered) {
  server = std::make_unique<test::TRunningServer>(); // build 40, as running
  StartProgram();
  BoxAnswerer answerer([](const QMessageBox &) { return QMessageBox::Yes; });
  EXPECT_EQ(RunProgram([&] { return !dialog->Check; }), kStopped);
  EXPECT_TRUE(answerer.Boxes().empty());
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(SoftwareUpdateDialogTest, AServiceThatCannotSignOffersNothing) {
  StartServer(std::nullopt); // build 41 and its installer, but no key to sign with
  StartProgram();
  BoxAnswerer answerer([](const QMessageBox &) { return QMessageBox::Yes; });
  EXPECT_EQ(RunProgram([&] { return !dialog->Check; }), kStopped);
  EXPECT_TRUE(answerer.Boxes().empty()) << "no update is offered that cannot be verified";
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(fs::exists(settings->TempPath() + "Sonabox.run"));
}

// Every download that ends without a started installer is told in its own
// words; then the dialog resets its bar and percentage together, closes, and
// the main window is back. Nothing is started, and bytes that are not the
// signed installer are not kept.
TEST_F(SoftwareUpdateDialogTest, ADownloadThatInstallsNothingIsToldAndTheWindowComesBack) {
  const test::TKeyPair stranger = test::MakeKeyPair();
  enum TChange { kNothing, kNotAProgram, kAByte, kRemoved };
  const struct {
    const char *what;
    std::optional<test::TKeyPair> signer;
    TChange change; // kAByte and kRemoved: once the update was offered
    QString message;
  } cases[] = {
      {"the installer vanished from the service", trusted, kRemoved, kDownloadError},
      {"a byte changed after the answer was signed", trusted, kAByte, kNotVerified},
      {"signed by another key", stranger, kNothing, kNotVerified},
      {"signed, but not a program", trusted, kNotAProgram, kNotStarted},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StartServer(c.signer);
    if (c.change == kNotAProgram) {
      installer = "echo ran > '" + marker + "'\n";
      test::WriteFileBytes(asset, installer);
    }
    StartProgram();
    BoxAnswerer answerer([&](const QMessageBox &box) {
      if (box.text() != kQuestion) return QMessageBox::Ok;
      if (c.change == kRemoved) fs::remove(asset);
      if (c.change == kAByte) {
        installer[installer.size() / 2] = '*';
        test::WriteFileBytes(asset, installer);
      }
      return QMessageBox::Yes;
    });
    EXPECT_EQ(RunProgram([&] { return answerer.Boxes().size() == 2 && !dialog->Download; }),
              kStopped);
    ASSERT_EQ(answerer.Boxes().size(), 2u);
    EXPECT_EQ(answerer.Boxes()[1].Text.toStdString(), c.message.toStdString());
    EXPECT_EQ(answerer.Boxes()[1].Icon, QMessageBox::Critical);
    EXPECT_FALSE(dialog->isVisible()) << "the dialog closes";
    EXPECT_TRUE(window->isVisible()) << "the main window is back";
    EXPECT_EQ(dialog->ProgressBar1->value(), 0) << "the bar and the percentage agree";
    EXPECT_EQ(dialog->lbPercentDone->text(), "0%");
    if (c.message == kNotVerified) {
      EXPECT_FALSE(fs::exists(settings->TempPath() + "Sonabox.run"))
          << "unverified bytes are not kept";
    }
    EXPECT_FALSE(fs::exists(marker));

    delete dSoftwareUpdate;
    window.reset();
    server.reset();
  }
}

TEST_F(SoftwareUpdateDialogTest, ALeftoverThatCannotBeDeletedStopsTheDownload) {
  StartServer(trusted);
  StartProgram();
  // A folder full of files where the installer goes cannot be deleted.
  fs::create_directories(settings->TempPath() + "Sonabox.run/inside");
  BoxAnswerer answerer([](const QMessageBox &box) {
    return box.text() == kQuestion ? QMessageBox::Yes : QMessageBox::Ok;
  });
  EXPECT_EQ(RunProgram([&] { return answerer.Boxes().size() == 2; }), kStopped);
  EXPECT_EQ(answerer.Boxes()[1].Text, "Unable to delete temp file, please restart your computer.");
  EXPECT_EQ(answerer.Boxes()[1].Icon, QMessageBox::Critical);
  EXPECT_TRUE(dialog->Download.isNull()) << "no download starts";
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_TRUE(window->isVisible());
}

TEST_F(SoftwareUpdateDialogTest, AbortDuringTheDownloadStopsItAndKeepsThePartialFile) {
  StartServer(trusted, 8 << 20);
  StartProgram();
  QPointer<TDownloadUpdate> download;
  bool aborted = false;
  QObject::connect(dialog->ProgressBar1, &QProgressBar::valueChanged, [&](int value) {
    if (value == 0 || aborted) return;
    aborted = true;
    download = dialog->Download.data();
    dialog->btnAbort->click(); // from within the progress notification
  });
  BoxAnswerer answerer([](const QMessageBox &) { return QMessageBox::Yes; });
  EXPECT_EQ(RunProgram([&] { return aborted; }), kStopped);
  EXPECT_TRUE(test::ProcessEventsUntil([&] { return download.isNull(); })) << "the download ends";
  EXPECT_EQ(answerer.Boxes().size(), 1u) << "a stopped download reports nothing";
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->ProgressBar1->value(), 0) << "the bar and the percentage agree";
  EXPECT_EQ(dialog->lbPercentDone->text(), "0%");
  const std::string path = settings->TempPath() + "Sonabox.run";
  ASSERT_TRUE(fs::exists(path)) << "the partial file stays until the next download";
  EXPECT_LT(fs::file_size(path), installer.size());
  EXPECT_FALSE(fs::exists(marker));
}
