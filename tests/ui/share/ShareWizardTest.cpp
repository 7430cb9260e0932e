// The share wizard as the user meets it, against a real sonabox-server: the
// send road ending with a share code that the service knows, the receive
// road into a new and into an existing playlist through the save dialog, and
// the rules of each step.
#include "core/playback/PlaySequencer.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "core/settings/Settings.h"
#include "core/sharing/Share.h"
#include "server/ServerFixture.h"
#include "support/EventLoop.h"
#include "support/ModalWatcher.h"
#include "support/UnusedPort.h"
#include "ui/app/MainWindow.h"
#include "ui/find/FindPage.h"
#include "ui/play/PlayPage.h"
#include "ui/share/SharePage.h"
#include "ui/share/ShareVideosDialog.h"
#include "ui/widgets/ImageButtons.h"
#include "ui/widgets/PlayListCombo.h"
#include "ui/widgets/ShellWidgets.h"
#include "ui/widgets/WebImage.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>

using namespace sonabox;
using sonabox::test::RunUntilIdle;

namespace {

// Acts on the save-shared-videos dialog once it shows modally, as the user
// would.
class DialogAnswerer : public QObject {
public:
  explicit DialogAnswerer(std::function<void(TdShareVideos &)> act) : act_(std::move(act)) {
    connect(&timer_, &QTimer::timeout, this, [this] {
      if (done_ || !dShareVideos || QApplication::activeModalWidget() != dShareVideos) return;
      done_ = true;
      act_(*dShareVideos);
    });
    timer_.start(2);
  }
  bool Shown() const { return done_; }

private:
  QTimer timer_;
  std::function<void(TdShareVideos &)> act_;
  bool done_ = false;
};

TVideo Video(const std::string &id, const std::string &title, int seconds) {
  TVideo v;
  v.Title = title;
  v.Description = "About " + title;
  v.Url = id;
  v.Rating = "4.5";
  v.DurationSeconds = seconds;
  v.Duration = std::to_string(seconds / 60) + ":" + (seconds % 60 < 10 ? "0" : "") +
               std::to_string(seconds % 60);
  v.Thumbnail = "http://127.0.0.1:1/t/" + id + ".jpg";
  return v;
}

const std::vector<TVideo> kRoadTrip = {Video("road1", "Highway Song", 185),
                                       Video("road2", "Desert Rain", 242),
                                       Video("road3", "Neon Diner", 61)};
const std::vector<TVideo> kQuiet = {Video("calm1", "Slow River", 300),
                                    Video("calm2", "Night Birds", 199)};

class ShareWizardTest : public ::testing::Test {
protected:
  void SetUp() override {
    server = std::make_unique<test::TRunningServer>();
    StoreWriteString("ServiceHost", "127.0.0.1:" + std::to_string(server->Server().ServicePort()));
    StoreWriteString("VideoWebHost", server->Server().WebHost());
    StartProgram();
  }
  void TearDown() override { window.reset(); }

  void StartProgram() {
    Settings = new TSettings();
    window = std::make_unique<TfMain>();
    startupDialog = new TdShareVideos(window.get()); // hidden, as at start-up
    window->show();
    window->pMain->setCurrentWidget(window->pShare);
    RunUntilIdle();
  }

  // A playlist made through the store, as saving search results makes one.
  void MakePlayList(const std::string &name, const std::vector<TVideo> &videos) {
    TDataTable table;
    window->PlayListManager->CreatePlayList(table, name);
    for (const TVideo &v : videos) {
      table.Insert();
      StoreVideoInRow(v, table);
      table.Post();
    }
    table.SaveToFile();
    window->RefreshPlayListCombos(false);
  }

  std::vector<std::string> PlayListTitles(const std::string &name) {
    TDataTable table;
    std::vector<std::string> titles;
    if (!window->PlayListManager->OpenPlayList(table, name)) return titles;
    for (table.First(); !table.Eof(); table.Next())
      titles.push_back(table.FieldByName("Title").AsString());
    return titles;
  }

  // Presses Next (or Restart) after the enable rules have run, as a click would.
  void Next() {
    RunUntilIdle();
    window->pShare->btnShareNext->click();
    // A send or a fetch runs on a worker thread; the wizard goes on when it ends.
    ASSERT_TRUE(test::ProcessEventsUntil([&] { return !window->pShare->Busy(); }));
    RunUntilIdle();
  }

  void ChoosePlayList(const std::string &name) {
    window->pShare->cbSharePlayList->setCurrentIndex(
        window->pShare->cbSharePlayList->findText(QString::fromStdString(name)));
  }

  // A real mouse click on a data cell of the grid (rows from 1, as the grid counts).
  void ClickCell(int row, int column) {
    QTableView *grid = window->pShare->sgShareVideos;
    const QRect cell = grid->visualRect(grid->model()->index(row - 1, column));
    ASSERT_TRUE(cell.isValid());
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
  }

  std::vector<bool> Ticks() {
    std::vector<bool> ticks;
    for (int row = 1; row <= window->pShare->sgShareVideos->model()->rowCount(); ++row)
      ticks.push_back(window->pShare->IsCellTicked(window->pShare->sgShareVideos, 0, row));
    return ticks;
  }

  void FillPeople(const QString &name, const QString &email, const QString &to,
                  const QString &toEmail) {
    window->pShare->edYourName->setText(name);
    window->pShare->edYourEmail->setText(email);
    window->pShare->edRecipientName->setText(to);
    window->pShare->edRecipientEmail->setText(toEmail);
  }

  int Page() const { return window->pShare->pcShareWizard->currentIndex(); }
  QAction *NextAction() const { return window->pShare->btnShareNext->defaultAction(); }

  // A share posted with the program's own client, as another user's program posts it.
  std::string PostShare(const std::string &title, const std::string &note,
                        const std::vector<TVideo> &videos) {
    TShare share;
    share.SetFrom("Ann", "ann@example.org");
    share.SetTo("Bob", "bob@example.org");
    share.SetTitle(title);
    share.SetNote(note);
    for (const TVideo &v : videos) share.AddEntry(ToShareEntry(v));
    return share.SendShare();
  }

  std::unique_ptr<test::TRunningServer> server;
  std::unique_ptr<TfMain> window;
  TdShareVideos *startupDialog = nullptr;
  test::ModalWatcher boxes;
};

} // namespace

TEST_F(ShareWizardTest, NamesAndNotesAreShownAsTypedNeverAsMarkup) {
  const QString markup = R"(<h1 style="color:red">BOB</h1>)";
  MakePlayList("Road Trip", kRoadTrip);
  ChoosePlayList("Road Trip");
  Next();
  window->pShare->aSelectAll->trigger();
  Next();
  FillPeople("Ann", "ann@example.org", markup, "bob@example.org");
  Next();
  ASSERT_EQ(Page(), 4);
  EXPECT_EQ(window->pShare->lbShareConfirm->textFormat(), Qt::PlainText);
  EXPECT_EQ(window->pShare->lbShareConfirm->text(),
            "Congrats, the songs have been sent off to " + markup);

  const std::string code = PostShare("Gifts", "<b>bold</b> note", kQuiet);
  window->pShare->aShareStep5->trigger();
  window->pShare->edShareCode->setText(QString::fromStdString(code));
  DialogAnswerer answer([](TdShareVideos &dialog) {
    EXPECT_EQ(dialog.lbShareNote->textFormat(), Qt::PlainText);
    EXPECT_EQ(dialog.lbShareNote->text(), "Note: <b>bold</b> note");
    dialog.close();
  });
  Next();
  EXPECT_TRUE(answer.Shown());
}

TEST_F(ShareWizardTest, SendRoadEndsWithACodeTheServiceKnows) {
  MakePlayList("Road Trip", kRoadTrip);
  ChoosePlayList("Road Trip");
  Next();
  ASSERT_EQ(Page(), 1);
  EXPECT_EQ(NextAction(), window->pShare->aShareStep2);
  EXPECT_EQ(window->pShare->cbShareTitle->currentText(), "Road Trip");
  EXPECT_EQ(Ticks(), std::vector<bool>({false, false, false}));
  EXPECT_TRUE(window->pShare->edYourName->text().isEmpty()) << "nobody has sent anything yet";

  ClickCell(1, 1); // a title ticks its row
  ClickCell(3, 0); // so does the check box
  EXPECT_EQ(Ticks(), std::vector<bool>({true, false, true}));
  EXPECT_EQ(window->pShare->lbShareCount->text(), "2 videos marked to share");
  window->pShare->cbShareTitle->setEditText("Songs for the road");
  Next();
  ASSERT_EQ(Page(), 2);
  FillPeople("Ann", "ann@example.org", "Bob", "bob@example.org");
  window->pShare->edEmailNote->setText("Play these loud");
  Next();

  ASSERT_TRUE(boxes.Boxes().empty()) << boxes.Boxes()[0].Text.toStdString();
  ASSERT_EQ(Page(), 4);
  EXPECT_EQ(NextAction(), window->pShare->aShareStep5);
  EXPECT_EQ(window->pShare->btnShareNext->text(), "Restart");
  EXPECT_FALSE(window->pShare->aSharePrevious->isEnabled()) << "no way back from the last page";
  EXPECT_EQ(window->pShare->lbShareConfirm->text(),
            "Congrats, the songs have been sent off to Bob");
  const std::string code = window->pShare->edNewShareCode->text().toStdString();
  ASSERT_FALSE(code.empty());

  // The service holds the share as sent: the two ticked videos, in order.
  const auto stored = server->Server().Shares().Find(code);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(stored->Title, "Songs for the road");
  EXPECT_EQ(stored->Note, "Play these loud");
  EXPECT_EQ(stored->FromName, "Ann");
  EXPECT_EQ(stored->ToEmail, "bob@example.org");
  TShare fetched;
  ASSERT_TRUE(fetched.FetchShare(code));
  ASSERT_EQ(fetched.VideoCount(), 2);
  EXPECT_EQ(fetched.SharedVideos()[0].Title, "Highway Song");
  EXPECT_EQ(fetched.SharedVideos()[0].Url, "road1");
  EXPECT_EQ(fetched.SharedVideos()[0].DurationSeconds, 185);
  EXPECT_EQ(fetched.SharedVideos()[1].Url, "road3");

  // The sender is remembered, and offered again on the next run.
  EXPECT_EQ(StoreReadString("shareName"), "Ann");
  EXPECT_EQ(StoreReadString("shareEmail"), "ann@example.org");
  window.reset();
  StartProgram();
  ChoosePlayList("Road Trip");
  Next();
  EXPECT_EQ(window->pShare->edYourName->text(), "Ann");
  EXPECT_EQ(window->pShare->edYourEmail->text(), "ann@example.org");
}

TEST_F(ShareWizardTest, AFailedSendSaysSoAndStaysWithTheDetails) {
  MakePlayList("Road Trip", kRoadTrip);
  ChoosePlayList("Road Trip");
  Next();
  window->pShare->aSelectAll->trigger();
  Next();
  FillPeople("Ann", "ann@example.org", "Bob", "bob@example.org");
  server->Server().Stop(); // the service cannot be reached
  Next();
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].Text,
            "The videos could not be sent. Please check your connection and try again.");
  EXPECT_EQ(boxes.Boxes()[0].Icon, QMessageBox::Critical);
  EXPECT_EQ(window->pShare->pcShareWizard->currentWidget(), window->pShare->tsShare3);
  EXPECT_EQ(NextAction(), window->pShare->aShareStep3);
  EXPECT_TRUE(window->pShare->aSharePrevious->isEnabled());
  EXPECT_TRUE(window->pShare->edNewShareCode->text().isEmpty());
  EXPECT_EQ(window->pShare->edRecipientName->text(), "Bob") << "the details stay for another try";
  EXPECT_FALSE(StoreReadString("shareName").has_value()) << "nothing was sent, nothing remembered";
}

TEST_F(ShareWizardTest, StepOneNeedsAPlayListOrACode) {
  MakePlayList("Road Trip", kRoadTrip);
  RunUntilIdle();
  EXPECT_FALSE(window->pShare->aShareStep1->isEnabled());
  EXPECT_FALSE(window->pShare->aSharePrevious->isEnabled());
  window->pShare->edShareCode->setText("X");
  RunUntilIdle();
  EXPECT_TRUE(window->pShare->aShareStep1->isEnabled());
  window->pShare->edShareCode->clear();
  ChoosePlayList("Road Trip");
  RunUntilIdle();
  EXPECT_TRUE(window->pShare->aShareStep1->isEnabled());
}

TEST_F(ShareWizardTest, StepTwoWantsAMeaningfulTitleAndATick) {
  MakePlayList("Road Trip", kRoadTrip);
  ChoosePlayList("Road Trip");
  Next();
  const struct {
    QString typed, kept;
    bool tick;
    const char *message; // empty: the step passes
  } cases[] = {
      {"  abcd \t", "abcd", true, "You should enter a more meaningful title for these videos..."},
      {"abcde", "abcde", false, "You need to select one or more videos to share..."},
      {"", "", true, "You should enter a more meaningful title for these videos..."},
      {QString::fromUtf8("  Ünïcø "), QString::fromUtf8("Ünïcø"), true, ""}, // five characters
      {" abcde ", "abcde", true, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.typed.toStdString());
    window->pShare->cbShareTitle->setEditText(c.typed);
    (c.tick ? window->pShare->aSelectAll : window->pShare->aSelectNone)->trigger();
    const std::size_t before = boxes.Boxes().size();
    Next();
    EXPECT_EQ(window->pShare->cbShareTitle->currentText(), c.kept)
        << "blanks go from the title box itself";
    if (*c.message) {
      ASSERT_EQ(boxes.Boxes().size(), before + 1);
      EXPECT_EQ(boxes.Boxes().back().Text, c.message);
      EXPECT_EQ(boxes.Boxes().back().Icon, QMessageBox::Critical);
      EXPECT_EQ(Page(), 1);
    } else {
      EXPECT_EQ(boxes.Boxes().size(), before);
      EXPECT_EQ(Page(), 2);
      window->pShare->btnSharePrevious->click();
      EXPECT_EQ(Page(), 1);
      EXPECT_EQ(NextAction(), window->pShare->aShareStep2);
    }
  }
}

TEST_F(ShareWizardTest, TickingRowsAndTheirPicture) {
  MakePlayList("Road Trip", kRoadTrip);
  ChoosePlayList("Road Trip");
  Next();
  TWebPicture &picture = window->pShare->wbShareImage->WebPicture();

  ClickCell(2, 2); // the duration of row 2
  EXPECT_EQ(Ticks(), std::vector<bool>({false, true, false}));
  EXPECT_EQ(picture.URL(), kRoadTrip[1].Thumbnail) << "a click on text shows the row's picture";
  ASSERT_TRUE(test::ProcessEventsUntil([&] { return !picture.Busy(); }));
  ClickCell(3, 0);
  EXPECT_EQ(picture.URL(), kRoadTrip[1].Thumbnail) << "a click on a check box fetches nothing";
  ClickCell(2, 1);
  EXPECT_EQ(Ticks(), std::vector<bool>({false, false, true})) << "a second click unticks";
  EXPECT_EQ(window->pShare->lbShareCount->text(), "1 videos marked to share");

  // The header row is no data row.
  QHeaderView *header = window->pShare->sgShareVideos->horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
  window->pShare->sgShareVideosClickCell(1, 0);
  EXPECT_EQ(Ticks(), std::vector<bool>({false, false, true}));

  window->pShare->btnSelectAll->click();
  EXPECT_EQ(Ticks(), std::vector<bool>({true, true, true}));
  EXPECT_EQ(window->pShare->lbShareCount->text(), "3 videos marked to share");
  window->pShare->btnSelectNone->click();
  EXPECT_EQ(Ticks(), std::vector<bool>({false, false, false}));
  EXPECT_EQ(window->pShare->lbShareCount->text(), "0 videos marked to share");
}

TEST_F(ShareWizardTest, BackToStepOneForAnotherPlayList) {
  MakePlayList("Road Trip", kRoadTrip);
  MakePlayList("Quiet Hours", kQuiet);
  ChoosePlayList("Road Trip");
  Next();
  window->pShare->aSelectAll->trigger();
  RunUntilIdle();
  ASSERT_TRUE(window->pShare->aSharePrevious->isEnabled());
  window->pShare->btnSharePrevious->click();
  EXPECT_EQ(Page(), 0);
  EXPECT_EQ(NextAction(), window->pShare->aShareStep1);
  ChoosePlayList("Quiet Hours");
  Next();
  EXPECT_EQ(window->pShare->cbShareTitle->currentText(), "Quiet Hours");
  EXPECT_EQ(window->pShare->sgShareVideos->model()
                ->data(window->pShare->sgShareVideos->model()->index(1, 1))
                .toString(),
            "Night Birds");
  EXPECT_EQ(Ticks(), std::vector<bool>({false, false}));
  EXPECT_EQ(window->pShare->lbShareCount->text(), "0 videos marked to share");
}

TEST_F(ShareWizardTest, StepThreeWantsFourFieldsInOrder) {
  MakePlayList("Road Trip", kRoadTrip);
  ChoosePlayList("Road Trip");
  Next();
  window->pShare->aSelectAll->trigger();
  Next();
  ASSERT_EQ(Page(), 2);
  server->Server().Stop(); // so the case that passes every check ends in a failed send
  const struct {
    QString name, email, to, toEmail;
    const char *message;
  } cases[] = {
      {"", "", "", "", "You need to enter your name"},
      {"Ann", "", "", "", "You need to enter your email"},
      {"", "a@b.org", "Bob", "b@c.org", "You need to enter your name"},
      {"Ann", "a@b.org", "", "b@c.org", "You need to enter their name"},
      {"Ann", "a@b.org", "Bob", "", "You need to enter their email"},
      // An address a mail cannot go to is refused before anything is sent.
      {"Ann", "a@b.org", "Bob", "not-an-email",
       "\"not-an-email\" is not an e-mail address. Please check their email."},
      {"Ann", "ann", "Bob", "b@c.org",
       "\"ann\" is not an e-mail address. Please check your email."},
      {"Ann", "a@b.org", "Bob", "<b>b@c</b>",
       "\"<b>b@c</b>\" is not an e-mail address. Please check their email."},
      {" ", " a@b.org ", " ", "b@c.org ",
       "The videos could not be sent. Please check your connection and try again."},
  };
  for (const auto &c : cases) {
    FillPeople(c.name, c.email, c.to, c.toEmail);
    const std::size_t before = boxes.Boxes().size();
    Next();
    ASSERT_EQ(boxes.Boxes().size(), before + 1);
    EXPECT_EQ(boxes.Boxes().back().Text, c.message);
    EXPECT_EQ(Page(), 2);
  }
}

TEST_F(ShareWizardTest, RestartKeepsWhatItShould) {
  MakePlayList("Road Trip", kRoadTrip);
  ChoosePlayList("Road Trip");
  Next();
  window->pShare->aSelectAll->trigger();
  window->pShare->cbShareTitle->setEditText("Songs for the road");
  Next();
  FillPeople("Ann", "ann@example.org", "Bob", "bob@example.org");
  window->pShare->edEmailNote->setText("Loud");
  Next();
  ASSERT_EQ(Page(), 4);
  const QString code = window->pShare->edNewShareCode->text();
  window->pShare->edShareCode->setText("typed earlier");
  Next(); // Restart
  EXPECT_EQ(Page(), 0);
  EXPECT_EQ(NextAction(), window->pShare->aShareStep1);
  EXPECT_FALSE(window->pShare->cdsShare->Active());
  for (QLineEdit *cleared : {window->pShare->edRecipientName, window->pShare->edRecipientEmail,
                             window->pShare->edEmailNote})
    EXPECT_TRUE(cleared->text().isEmpty()) << cleared->objectName().toStdString();
  EXPECT_EQ(window->pShare->cbShareTitle->currentText(), "Songs for the road");
  EXPECT_EQ(window->pShare->edYourName->text(), "Ann");
  EXPECT_EQ(window->pShare->edYourEmail->text(), "ann@example.org");
  EXPECT_EQ(window->pShare->cbSharePlayList->currentText(), "Road Trip");
  EXPECT_EQ(window->pShare->edShareCode->text(), "typed earlier");
  EXPECT_EQ(window->pShare->edNewShareCode->text(), code);
}

TEST_F(ShareWizardTest, ReceivedVideosGoIntoANewPlayListNamedAfterTheShare) {
  MakePlayList("Road Trip", kRoadTrip);
  const std::string code = PostShare("Quiet Hours", "For the evening", kQuiet);
  ASSERT_FALSE(code.empty());
  ChoosePlayList("Road Trip"); // a code wins over a chosen playlist
  window->pShare->edShareCode->setText(QString::fromStdString(code));
  DialogAnswerer answer([](TdShareVideos &dialog) {
    EXPECT_EQ(dialog.lbShareNumber->text(), "2 videos have been found in the share key.");
    EXPECT_EQ(dialog.lbShareNote->text(), "Note: For the evening");
    // The videos are listed before anything is saved.
    ASSERT_EQ(dialog.lbShareVideos->count(), 2);
    EXPECT_EQ(dialog.lbShareVideos->item(0)->text(), "Slow River");
    EXPECT_EQ(dialog.lbShareVideos->item(1)->text(), "Night Birds");
    EXPECT_EQ(dialog.edPlayListName->text(), "Quiet Hours");
    EXPECT_EQ(dialog.cbAddPlayList->currentIndex(), -1);
    EXPECT_EQ(dialog.cbAddPlayList->count(), 1);
    fMain->SetControlImage(31, "_hover"); // tag 31 names the button of this fresh dialog
    EXPECT_EQ(dialog.iFindSave->PictureName(), "SAVE_HOVER");
    dialog.iFindSave->click();
  });
  Next();
  ASSERT_TRUE(answer.Shown());
  EXPECT_EQ(dShareVideos, nullptr) << "the dialog is released after use";
  // Success is told on the Play page's message line, not in a box.
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(window->pPlay->lbMessage->text(), "2 videos added to \"Quiet Hours\"");
  EXPECT_EQ(PlayListTitles("Quiet Hours"), std::vector<std::string>({"Slow River", "Night Birds"}));
  EXPECT_EQ(window->pMain->currentWidget(), window->pPlay);
  EXPECT_TRUE(window->pShare->edShareCode->text().isEmpty());
  EXPECT_GE(window->pPlay->cbPlayLists->findText("Quiet Hours"), 0);
  EXPECT_GE(window->pShare->cbSharePlayList->findText("Quiet Hours"), 0);
  EXPECT_EQ(Page(), 0);

  // The received records keep what the sender's playlist held.
  TDataTable table;
  ASSERT_TRUE(window->PlayListManager->OpenPlayList(table, "Quiet Hours"));
  table.First();
  EXPECT_EQ(table.FieldByName("Url").AsString(), "calm1");
  EXPECT_EQ(table.FieldByName("DurationSeconds").AsInteger(), 300);
  EXPECT_EQ(table.FieldByName("Duration").AsString(), "5:00");
  EXPECT_EQ(table.FieldByName("Thumbnail").AsString(), kQuiet[0].Thumbnail);
}

TEST_F(ShareWizardTest, ReceivedVideosAddedToThePlayListOpenOnThePlayPage) {
  MakePlayList("Road Trip", kRoadTrip);
  window->pPlay->cbPlayLists->setCurrentIndex(window->pPlay->cbPlayLists->findText("Road Trip"));
  ASSERT_EQ(window->pPlay->sgPlayList->model()->rowCount(), 3);
  window->pShare->edShareCode->setText(
      QString::fromStdString(PostShare("Quiet Hours", "", kQuiet)));
  DialogAnswerer answer([](TdShareVideos &dialog) {
    dialog.cbAddPlayList->setCurrentIndex(dialog.cbAddPlayList->findText("Road Trip"));
    EXPECT_TRUE(dialog.edPlayListName->text().isEmpty()) << "choosing a playlist empties the name";
    dialog.iFindSave->click();
  });
  Next();
  ASSERT_TRUE(answer.Shown());
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_EQ(window->pPlay->lbMessage->text(), "2 videos added to \"Road Trip\"");
  EXPECT_EQ(PlayListTitles("Road Trip"),
            std::vector<std::string>(
                {"Highway Song", "Desert Rain", "Neon Diner", "Slow River", "Night Birds"}));
  EXPECT_FALSE(window->PlayListManager->HasPlayList("Quiet Hours"));
  // The Play page shows them at once, and its next save keeps them.
  EXPECT_EQ(window->pPlay->sgPlayList->model()->rowCount(), 5);
  window->pPlay->cdsPlayList->First();
  window->pPlay->aDeleteVideoExecute();
  EXPECT_EQ(PlayListTitles("Road Trip"),
            std::vector<std::string>({"Desert Rain", "Neon Diner", "Slow River", "Night Birds"}));
}

// Saving the same share twice into one playlist asks first, as saving search
// results does.
TEST_F(ShareWizardTest, SavingAShareTwiceAsksAboutTheVideosAlreadyThere) {
  MakePlayList("Road Trip", kRoadTrip);
  const std::string code = PostShare("Quiet Hours", "", kQuiet);
  struct Case {
    QMessageBox::StandardButton answer;
    std::string told; // nothing: nothing saved
    std::size_t rows;
  };
  const Case cases[] = {
      {QMessageBox::Ok, "2 videos added to \"Road Trip\"", 5}, // the first time: no question
      {QMessageBox::No, "0 videos added to \"Road Trip\"; 2 already in it were skipped", 5},
      {QMessageBox::Cancel, "", 5},
      {QMessageBox::Yes, "2 videos added to \"Road Trip\"", 7},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.told);
    window->pMain->setCurrentWidget(window->pShare);
    window->pPlay->lbMessage->clear();
    window->pShare->edShareCode->setText(QString::fromStdString(code));
    boxes.SetAnswer(c.answer);
    const std::size_t before = boxes.Boxes().size();
    DialogAnswerer answer([](TdShareVideos &dialog) {
      dialog.cbAddPlayList->setCurrentIndex(dialog.cbAddPlayList->findText("Road Trip"));
      dialog.iFindSave->click();
    });
    Next();
    ASSERT_TRUE(answer.Shown());
    if (c.answer == QMessageBox::Ok) {
      EXPECT_EQ(boxes.Boxes().size(), before);
    } else {
      ASSERT_EQ(boxes.Boxes().size(), before + 1);
      EXPECT_EQ(boxes.Boxes().back().Text, "All 2 shared videos are already in \"Road Trip\".");
    }
    EXPECT_EQ(window->pPlay->lbMessage->text().toStdString(), c.told);
    EXPECT_EQ(PlayListTitles("Road Trip").size(), c.rows);
  }
}

TEST_F(ShareWizardTest, TheSaveDialogWantsAChoiceOrAName) {
  MakePlayList("Road Trip", kRoadTrip);
  const std::string code = PostShare("", "", kQuiet); // a share without a title
  window->pShare->edShareCode->setText(QString::fromStdString(code));
  DialogAnswerer answer([&](TdShareVideos &dialog) {
    EXPECT_TRUE(dialog.edPlayListName->text().isEmpty());
    dialog.iFindSave->click();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].Text, "Please enter a play list name");
    EXPECT_TRUE(dialog.isVisible()) << "the dialog stays open";
    // Typing after choosing clears the choice; the typed text stays.
    dialog.cbAddPlayList->setCurrentIndex(0);
    QTest::keyClicks(dialog.edPlayListName, "  ");
    EXPECT_EQ(dialog.cbAddPlayList->currentIndex(), -1);
    EXPECT_EQ(dialog.edPlayListName->text(), "  ");
    // Blanks alone are no name, and a name taken is refused: the dialog stays.
    dialog.iFindSave->click();
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Boxes()[1].Text, "Please enter a play list name");
    dialog.edPlayListName->setText(" Road Trip ");
    dialog.iFindSave->click();
    ASSERT_EQ(boxes.Boxes().size(), 3u);
    EXPECT_EQ(boxes.Boxes()[2].Text, "A playlist named \"Road Trip\" already exists.");
    EXPECT_TRUE(dialog.isVisible());
    dialog.edPlayListName->setText("  Gifts ");
    dialog.iFindSave->click();
  });
  Next();
  ASSERT_TRUE(answer.Shown());
  EXPECT_EQ(boxes.Boxes().size(), 3u);
  EXPECT_EQ(window->pPlay->lbMessage->text(), "2 videos added to \"Gifts\"");
  EXPECT_EQ(window->PlayListManager->PlayListNames(),
            (std::vector<std::string>{"Gifts", "Road Trip"}));
}

TEST_F(ShareWizardTest, ClosingTheSaveDialogSavesNothing) {
  MakePlayList("Road Trip", kRoadTrip);
  const QString code = QString::fromStdString(PostShare("Quiet Hours", "", kQuiet));
  window->pShare->edShareCode->setText(code);
  DialogAnswerer answer([](TdShareVideos &dialog) { dialog.close(); });
  Next();
  ASSERT_TRUE(answer.Shown());
  EXPECT_EQ(dShareVideos, nullptr);
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_FALSE(window->PlayListManager->HasPlayList("Quiet Hours"));
  EXPECT_EQ(window->pShare->edShareCode->text(), code);
  EXPECT_EQ(window->pMain->currentWidget(), window->pShare);
  EXPECT_EQ(Page(), 0);
}

TEST_F(ShareWizardTest, AnUnknownCodeIsRefused) {
  window->pShare->edShareCode->setText("NOSUCHCODE");
  Next();
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].Text, "You have entered an invalid share code... please try again");
  EXPECT_EQ(boxes.Boxes()[0].Icon, QMessageBox::Critical);
  EXPECT_EQ(window->pShare->edShareCode->text(), "NOSUCHCODE");
  EXPECT_EQ(Page(), 0);
  EXPECT_EQ(dShareVideos, startupDialog) << "no dialog was made";
}

TEST_F(ShareWizardTest, AValidCodeIsNotCalledInvalidWhenTheServiceCannotBeReached) {
  const std::string code = PostShare("Quiet Hours", "", kQuiet);
  ASSERT_FALSE(code.empty());
  server->Server().Stop();
  window->pShare->edShareCode->setText(QString::fromStdString(code));
  Next();
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].Text,
            "The share service could not be reached, so the share code could not be looked up. "
            "Please check your connection and try again.");
  EXPECT_EQ(window->pShare->edShareCode->text(), QString::fromStdString(code))
      << "kept for a retry";
}

TEST_F(ShareWizardTest, TwoUsersShareThroughTheService) {
  // Ann sends two videos of her playlist...
  MakePlayList("Road Trip", kRoadTrip);
  ChoosePlayList("Road Trip");
  Next();
  ClickCell(2, 1);
  ClickCell(3, 1);
  window->pShare->cbShareTitle->setEditText("From Ann with love");
  Next();
  FillPeople("Ann", "ann@example.org", "Bob", "bob@example.org");
  window->pShare->edEmailNote->setText(QString::fromUtf8("Enjoy — Ann"));
  Next();
  const QString code = window->pShare->edNewShareCode->text();
  ASSERT_FALSE(code.isEmpty());
  window.reset();

  // ...and Bob, with his own settings and playlists, receives them by the code.
  test::TestFolders bob;
  StoreWriteString("ServiceHost", "127.0.0.1:" + std::to_string(server->Server().ServicePort()));
  StoreWriteString("VideoWebHost", server->Server().WebHost());
  StartProgram();
  EXPECT_TRUE(window->pShare->cbSharePlayList->findText("Road Trip") < 0)
      << "Bob has playlists of his own";
  // Bob pastes the code and presses Enter.
  window->pShare->edShareCode->setFocus();
  QTest::keyClicks(window->pShare->edShareCode, " " + code.toLower() + " ");
  DialogAnswerer answer([](TdShareVideos &dialog) {
    EXPECT_EQ(dialog.lbShareNote->text(), QString::fromUtf8("Note: Enjoy — Ann"));
    dialog.iFindSave->click();
  });
  QTest::keyClick(window->pShare->edShareCode, Qt::Key_Return);
  ASSERT_TRUE(test::ProcessEventsUntil([&] { return answer.Shown() && !window->pShare->Busy(); }));
  RunUntilIdle();
  ASSERT_TRUE(answer.Shown());
  EXPECT_EQ(window->pPlay->lbMessage->text(), "2 videos added to \"From Ann with love\"");
  EXPECT_EQ(PlayListTitles("From Ann with love"),
            std::vector<std::string>({"Desert Rain", "Neon Diner"}));
  window.reset();
}

TEST_F(ShareWizardTest, ASilentServiceNeverFreezesTheWindow) {
  test::SilentHost silent;
  StoreWriteString("ServiceHost", "127.0.0.1:" + std::to_string(silent.port));
  auto waitWhileHandlingEvents = [&] {
    // The window keeps handling events (a timer ticks) while the wizard waits.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    EXPECT_TRUE(test::ProcessEventsUntil([&] { return ticks >= 20; }));
    EXPECT_TRUE(window->pShare->Busy());
  };

  // Receiving: the code is looked up while the page shows that it is busy.
  window->pShare->edShareCode->setText("ABCDEFGH");
  RunUntilIdle();
  window->pShare->btnShareNext->click();
  waitWhileHandlingEvents();
  EXPECT_TRUE(window->pShare->acpFetching->isVisible());
  EXPECT_TRUE(window->pShare->acpFetching->Running());
  EXPECT_FALSE(window->pShare->btnShareNext->isEnabled()) << "no second exchange meanwhile";
  EXPECT_TRUE(window->pShare->edShareCode->isReadOnly());
  window->pShare->aShareStep1Execute(); // even called directly, nothing starts
  EXPECT_TRUE(boxes.Boxes().empty());

  // Closing the window during the wait does not wait for the exchange.
  QPointer<QThread> exchange = window->pShare->Exchange();
  ASSERT_TRUE(exchange);
  window.reset();
  EXPECT_TRUE(exchange) << "the exchange still runs, abandoned";
  silent.Close(); // the service goes; the abandoned exchange ends and cleans up
  EXPECT_TRUE(test::ProcessEventsUntil([&] { return exchange.isNull(); }));

  // Sending: the same, from the waiting page with its busy picture.
  test::SilentHost another;
  StoreWriteString("ServiceHost", "127.0.0.1:" + std::to_string(another.port));
  StartProgram();
  MakePlayList("Road Trip", kRoadTrip);
  ChoosePlayList("Road Trip");
  Next();
  window->pShare->aSelectAll->trigger();
  Next();
  FillPeople("Ann", "ann@example.org", "Bob", "bob@example.org");
  RunUntilIdle();
  window->pShare->btnShareNext->click();
  waitWhileHandlingEvents();
  EXPECT_EQ(window->pShare->pcShareWizard->currentWidget(), window->pShare->tsShare4);
  EXPECT_TRUE(window->pShare->acpSharing->Running());
  EXPECT_FALSE(window->pShare->btnShareNext->isEnabled());
  EXPECT_FALSE(window->pShare->btnSharePrevious->isEnabled());
  exchange = window->pShare->Exchange();
  window.reset();
  another.Close();
  EXPECT_TRUE(test::ProcessEventsUntil([&] { return exchange.isNull(); }));
}

TEST(ShareVideosDialogTest, EveryTypedCharacterOfANewNameIsKept) {
  test::TestFolders folders;
  const TSettings settings;
  TPlayListManager store(settings.DataPath(), settings.PlayListPath());
  for (const char *name : {"Pop", "Jazz"}) AddVideosToPlayList(store, name, true, {});
  TdShareVideos dialog;
  FillPlayListCombo(dialog.cbAddPlayList, store); // as the wizard fills it
  QTest::keyClicks(dialog.edPlayListName, "Gift Box");
  EXPECT_EQ(dialog.edPlayListName->text(), "Gift Box");
  EXPECT_EQ(dialog.cbAddPlayList->currentIndex(), -1);
}
