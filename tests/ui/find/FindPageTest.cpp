// The Find page against a feed server on 127.0.0.1: searching, "More", the
// result panels with their thumbnails, ticking, the wheel and resizing.
#include "ui/find/FindPage.h"
#include "core/playlists/PlayListManager.h"
#include "core/search/TubeSearch.h"
#include "core/settings/Settings.h"
#include "support/EventLoop.h"
#include "support/FeedServer.h"
#include "support/ModalWatcher.h"
#include "support/TestFolders.h"
#include "support/UnusedPort.h"
#include "ui/find/ResultPanels.h"
#include "ui/widgets/ImageButtons.h"
#include "ui/widgets/WebImage.h"

#include <QAbstractEventDispatcher>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

using namespace sonabox;
using sonabox::test::kLongDescription;
using sonabox::test::ProcessEventsUntil;

namespace {

class FindPageTest : public ::testing::Test {
protected:
  void SetUp() override {
    StoreWriteString("VideoDataHost", feed.Host());
    StoreWriteString("VideoWebHost", feed.Host());
    const TSettings settings; // makes the data folders
    store = std::make_unique<TPlayListManager>(settings.DataPath(), settings.PlayListPath());
    page = std::make_unique<TFindPage>(*store, nullptr);
    page->resize(669, 406);                    // the page's size in a new main window
    page->cbCategory->setCurrentText("Music"); // as the window chooses at start
    // The enable rules run when the event queue is empty, as the window runs them.
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     page.get(), [this] { page->RunEnableRules(); });
    page->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(page.get()));
  }
  void TearDown() override {
    page.reset();
    // Thumbnail fetches of freed panels end by themselves.
    EXPECT_TRUE(ProcessEventsUntil([] { return TDownLoadThread::Running() == 0; }));
  }

  // Types the keywords and presses Enter, then waits for the panels.
  void Search(const std::string &keywords) {
    page->edTubeSearch->setText(QString::fromStdString(keywords));
    QTest::keyClick(page->edTubeSearch, Qt::Key_Return);
    ASSERT_TRUE(ProcessEventsUntil([&] { return page->TubeSearch == nullptr; }));
  }
  void PressMore() {
    ASSERT_TRUE(page->btnMore->isVisible());
    QTest::mouseClick(page->btnMore, Qt::LeftButton);
    ASSERT_TRUE(ProcessEventsUntil([&] { return page->TubeSearch == nullptr; }));
  }
  std::string LastRequest() {
    const auto requests = feed.Requests();
    return requests.empty() ? std::string() : requests.back();
  }
  int AreaWidth() const { return page->sbResults->width(); }
  QScrollBar *Bar() const { return page->sbResults->verticalScrollBar(); }
  bool ShowsPicture(const TSelectButton *button, const QLabel *source) const {
    return button->Picture().toImage() == source->pixmap().toImage();
  }

  test::TestFolders folders;
  test::ModalWatcher boxes;
  test::FeedServer feed;
  std::unique_ptr<TPlayListManager> store;
  std::unique_ptr<TFindPage> page;
};

TEST_F(FindPageTest, FirstPageAndMore) {
  feed.Set(60, 60);
  page->cbCategory->setCurrentText("Music");
  Search("blue  sky");
  EXPECT_EQ(
      LastRequest(),
      "/feeds/api/videos/-/Music?vq=blue%20%20sky&orderby=relevance&start-index=1&max-results=25");

  ASSERT_EQ(page->VisualResults.size(), 25u);
  const int width = AreaWidth();
  for (int i = 0; i < 25; ++i) {
    const TVisualResult &r = *page->VisualResults[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(r.Video.Title.rfind("Song " + std::to_string(i + 1), 0), 0u);
    EXPECT_EQ(r.Panel->geometry(), QRect(0, i * 112, width - 20, 110));
    EXPECT_FALSE(r.Selected);
    EXPECT_EQ(r.SelectImage->geometry(), QRect(width - 77 - 25, 8, 77, 66));
    EXPECT_TRUE(ShowsPicture(r.SelectImage, page->iFindAdd));
    EXPECT_EQ(r.ThumbnailImage->geometry(), QRect(8, 5, 130, 97));
    // The title reaches to the toggle.
    EXPECT_EQ(r.TitleLabel->geometry(), QRect(144, 5, width - 77 - 25 - 8 - 144, 17));
    EXPECT_TRUE(r.TitleLabel->font().bold());
    EXPECT_EQ(r.DescriptionLabel->geometry(), QRect(144, 89, width - 165, 17));
    EXPECT_EQ(r.ViewsLabel->text().toStdString(), "Views: " + std::to_string(1001 + i));
    EXPECT_EQ(r.ViewsLabel->pos(), QPoint(144, 32));
    EXPECT_EQ(r.RatingLabel->text(), "Rating: 4.5");
    EXPECT_EQ(r.RatingLabel->pos(), QPoint(144, 51));
    EXPECT_EQ(r.DurationLabel->text(), QString("Duration: 1:%1").arg(i + 1, 2, 10, QChar('0')));
    EXPECT_EQ(r.DurationLabel->pos(), QPoint(144, 70));
  }
  EXPECT_EQ(page->VisualResults.back()->Panel->y(), 2688);
  // The artist before the title, as plain text.
  const TVisualResult &byArtist = *page->VisualResults[4];
  EXPECT_EQ(byArtist.Video.Artist, "Zo\xC3\xAB & <b>Co</b>");
  EXPECT_EQ(byArtist.TitleLabel->text(), QString::fromUtf8("Zo\u00EB & <b>Co</b> \u2013 Song 5"));
  EXPECT_EQ(byArtist.TitleLabel->textFormat(), Qt::PlainText);
  EXPECT_TRUE(page->btnMore->isVisible());
  EXPECT_TRUE(page->sbResults->isVisible());
  EXPECT_TRUE(boxes.Boxes().empty());

  // "More" repeats the search as it was started, whatever the controls now say,
  // and keeps the place the user had scrolled to.
  page->edTubeSearch->setText("something else");
  page->cbCategory->setCurrentText("Any");
  Bar()->setValue(500);
  PressMore();
  EXPECT_EQ(
      LastRequest(),
      "/feeds/api/videos/-/Music?vq=blue%20%20sky&orderby=relevance&start-index=26&max-results=25");
  ASSERT_EQ(page->VisualResults.size(), 50u);
  EXPECT_EQ(page->VisualResults[25]->Panel->y(), 2800);
  EXPECT_EQ(page->VisualResults[25]->Video.Title, "Song 26");
  EXPECT_EQ(page->VisualResults[49]->Panel->y(), 49 * 112);
  EXPECT_EQ(Bar()->value(), 500);
  // The area reaches down to the last panel's bottom edge.
  EXPECT_EQ(Bar()->maximum() + page->sbResults->viewport()->height(), 49 * 112 + 110);

  PressMore();
  EXPECT_NE(LastRequest().find("start-index=51&"), std::string::npos);
  EXPECT_EQ(page->VisualResults.size(), 60u);
  // All 60 are held; a page of 10 was the last one, so "More" goes.
  EXPECT_FALSE(page->btnMore->isVisible());
}

TEST_F(FindPageTest, MoreIsShownWhileTheFeedHasMore) {
  // {videos on the page, total claimed, More shown}
  const std::vector<std::tuple<int, int, bool>> cases = {
      {25, 25, false}, {25, 26, true}, {3, 3, false}, {0, 0, false}};
  for (const auto &[available, total, shown] : cases) {
    SCOPED_TRACE(testing::Message() << available << " of " << total);
    feed.Set(available, total);
    page->cbCategory->setCurrentText("Any");
    Search("rock");
    EXPECT_EQ(LastRequest(),
              "/feeds/api/videos?vq=rock&orderby=relevance&start-index=1&max-results=25");
    EXPECT_EQ(page->VisualResults.size(), static_cast<size_t>(available));
    EXPECT_EQ(page->btnMore->isVisible(), shown);
  }
}

TEST_F(FindPageTest, MoreGoesAfterTheLastPage) {
  // The feed claims more than it has: a page of fewer than 25 is the last all
  // the same, so "More" never asks for a page past the end.
  feed.Set(26, 40);
  Search("rock");
  ASSERT_TRUE(page->btnMore->isVisible());
  PressMore();
  ASSERT_EQ(page->VisualResults.size(), 26u);
  EXPECT_FALSE(page->btnMore->isVisible());
  EXPECT_NE(LastRequest().find("start-index=26&"), std::string::npos);
}

TEST_F(FindPageTest, FailedRequestsShowNothingAndSayNothing) {
  feed.Set(30, 30);
  Search("rock");
  ASSERT_EQ(page->VisualResults.size(), 25u);
  page->VisualResults[0]->Selected = true;

  // "More" that fails leaves the panels as they were.
  feed.SetFailing(true);
  PressMore();
  EXPECT_EQ(page->VisualResults.size(), 25u);
  EXPECT_TRUE(page->btnMore->isVisible());
  EXPECT_TRUE(page->sbResults->isVisible());

  EXPECT_FALSE(page->lbSearchOutcome->isVisible()) << "the panels stay and say it all";

  // A new search that fails leaves an area that says why, "More" hidden.
  Search("jazz");
  EXPECT_TRUE(page->VisualResults.empty());
  EXPECT_FALSE(page->btnMore->isVisible());
  EXPECT_TRUE(page->sbResults->isVisible());
  EXPECT_EQ(page->sbResults->widget()->findChildren<TClickPanel *>().size(), 0);
  EXPECT_TRUE(page->lbSearchOutcome->isVisible());
  EXPECT_EQ(page->lbSearchOutcome->text(), "The video service refused the search (HTTP 500).");
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(FindPageTest, AnEmptyAreaSaysWhy) {
  const int unused = test::UnusedPort();
  struct Case {
    const char *name;
    std::function<void()> arrange;
    std::string keywords, category;
    QString text;
  };
  const Case cases[] = {
      {"nothing found", [&] { feed.Set(0, 0); }, "zzz <b>x</b>", "Any",
       "No videos found for \"zzz <b>x</b>\"."},
      {"nothing found in a category", [&] { feed.Set(0, 0); }, "zzz", "Music",
       "No videos found for \"zzz\" in Music."},
      {"refused", [&] { feed.SetFailing(true); }, "rock", "Any",
       "The video service refused the search (HTTP 500)."},
      {"unreachable",
       [&] { StoreWriteString("VideoDataHost", "127.0.0.1:" + std::to_string(unused)); }, "rock",
       "Any", "The video service could not be reached."},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange();
    page->cbCategory->setCurrentText(QString::fromStdString(c.category));
    Search(c.keywords);
    EXPECT_TRUE(page->VisualResults.empty());
    EXPECT_TRUE(page->lbSearchOutcome->isVisible());
    EXPECT_EQ(page->lbSearchOutcome->text(), c.text);
    EXPECT_EQ(page->lbSearchOutcome->textFormat(), Qt::PlainText);
    EXPECT_EQ(page->lbSearchOutcome->accessibleName(), c.text);
  }
  // Found videos hide it, and a new search starts at the top of the area.
  StoreWriteString("VideoDataHost", feed.Host());
  feed.SetFailing(false);
  feed.Set(25, 25);
  Search("rock");
  EXPECT_FALSE(page->lbSearchOutcome->isVisible());
  Bar()->setValue(300);
  Search("rock again");
  EXPECT_EQ(Bar()->value(), 0);
}

TEST_F(FindPageTest, NothingStartsWhileASearchRuns) {
  feed.Set(30, 30);
  Search("rock");
  page->VisualResults[1]->Selected = true;
  feed.CloseGate();
  page->edTubeSearch->setText("jazz");
  QTest::keyClick(page->edTubeSearch, Qt::Key_Return);
  ASSERT_TRUE(page->TubeSearch);
  // The old panels, ticked ones included, are gone; the busy picture shows.
  EXPECT_TRUE(page->VisualResults.empty());
  EXPECT_TRUE(page->sbResults->isHidden());
  EXPECT_TRUE(page->imgProgress->isVisible());
  EXPECT_EQ(page->imgProgressMovie->state(), QMovie::Running);

  ASSERT_TRUE(ProcessEventsUntil([&] { return feed.Requests().size() == 2; }));
  page->aSearchExecute();
  page->aAddMoreExecute();
  QTest::keyClick(page->edTubeSearch, Qt::Key_Return);
  page->aSearchUpdate();
  EXPECT_FALSE(page->aSearch->isEnabled());
  feed.OpenGate();
  ASSERT_TRUE(ProcessEventsUntil([&] { return page->TubeSearch == nullptr; }));
  EXPECT_EQ(feed.Requests().size(), 2u);
  EXPECT_EQ(page->VisualResults.size(), 25u);
  EXPECT_EQ(page->imgProgressMovie->state(), QMovie::NotRunning);
}

TEST_F(FindPageTest, EnterIsConsumedAndSearchesOnlyWithKeywords) {
  for (const std::string keywords : {"", "   "}) {
    page->edTubeSearch->setText(QString::fromStdString(keywords));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(page->edTubeSearch, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(page->edTubeSearch->text().toStdString(), keywords);
  }
  // Nothing was asked for the empty edit; the spaces were searched.
  ASSERT_TRUE(ProcessEventsUntil([&] { return page->TubeSearch == nullptr; }));
  EXPECT_EQ(
      feed.Requests(),
      std::vector<std::string>{
          "/feeds/api/videos/-/Music?vq=%20%20%20&orderby=relevance&start-index=1&max-results=25"});
}

TEST_F(FindPageTest, ThumbnailsArriveInTheBackground) {
  feed.Set(6, 6);
  Search("rock");
  ASSERT_EQ(page->VisualResults.size(), 6u);
  // Every fetch has started (its address taken) and ended.
  ASSERT_TRUE(ProcessEventsUntil([&] {
    return std::all_of(page->VisualResults.begin(), page->VisualResults.end(), [](auto *r) {
      const TWebPicture &p = r->ThumbnailImage->WebPicture();
      return p.URL() == r->Video.Thumbnail && !p.Busy();
    });
  }));
  for (int i = 0; i < 6; ++i) {
    const TWebPicture &picture = page->VisualResults[i]->ThumbnailImage->WebPicture();
    const bool bad = i + 1 == 3 || i + 1 == 4; // a 404 and a web page
    EXPECT_EQ(picture.Empty(), bad) << i;
    if (!bad) {
      EXPECT_EQ(picture.Image().size(), QSize(130, 97));
      const QImage shot = page->VisualResults[i]->ThumbnailImage->grab().toImage();
      EXPECT_LT(std::abs(shot.pixelColor(65, 48).green() - QColor(Qt::darkCyan).green()), 20);
    }
  }
}

TEST_F(FindPageTest, TickingPanels) {
  feed.Set(3, 3);
  Search("rock");
  ASSERT_EQ(page->VisualResults.size(), 3u);
  TVisualResult &r = *page->VisualResults[1];
  struct Click {
    QWidget *target;
    QPoint at;
    bool selectedAfter;
  };
  const QPoint background(141, 60); // between the thumbnail and the labels
  const std::vector<Click> clicks = {
      {r.Panel, background, true},        {r.Panel, background, false},
      {r.SelectImage, {10, 10}, true},    {r.TitleLabel, {5, 5}, true},
      {r.DescriptionLabel, {5, 5}, true}, {r.ThumbnailImage, {50, 50}, true},
      {r.ViewsLabel, {3, 3}, true},       {r.SelectImage, {70, 60}, false},
  };
  for (const Click &c : clicks) {
    SCOPED_TRACE(c.target->metaObject()->className());
    QTest::mouseClick(c.target, Qt::LeftButton, {}, c.at);
    EXPECT_EQ(r.Selected, c.selectedAfter);
    EXPECT_TRUE(ShowsPicture(r.SelectImage, c.selectedAfter ? page->iFindRemove : page->iFindAdd));
  }
  EXPECT_FALSE(page->VisualResults[0]->Selected);
  EXPECT_FALSE(page->VisualResults[2]->Selected);
}

TEST_F(FindPageTest, LongTextsAreCutWithAnEllipsis) {
  feed.Set(2, 2);
  Search("rock");
  const TVisualResult &r = *page->VisualResults[1];
  const QString title = r.TitleLabel->text();
  EXPECT_TRUE(title.endsWith(u'\u2026')) << title.toStdString();
  EXPECT_TRUE(QString::fromStdString(r.Video.Title).startsWith(title.chopped(1)));
  EXPECT_LE(r.TitleLabel->fontMetrics().horizontalAdvance(title), r.TitleLabel->width());

  const QString full = "Description: " + QString::fromStdString(kLongDescription);
  const QString shown = r.DescriptionLabel->text();
  ASSERT_TRUE(shown.endsWith(u'\u2026')) << shown.toStdString();
  const QString words = shown.chopped(1);
  EXPECT_TRUE(full.startsWith(words + " ")) << "cut after a whole word: " << shown.toStdString();
  EXPECT_LE(r.DescriptionLabel->fontMetrics().horizontalAdvance(shown),
            r.DescriptionLabel->width());
  // The next word would not have fitted.
  const qsizetype next = full.indexOf(' ', words.size() + 1);
  EXPECT_GT(r.DescriptionLabel->fontMetrics().horizontalAdvance(full.left(next) + u'\u2026'),
            r.DescriptionLabel->width());
  // A short description is shown whole.
  EXPECT_EQ(page->VisualResults[0]->DescriptionLabel->text(), "Description: Short 1");
}

TEST_F(FindPageTest, WheelMovesTheResultsOnTheFindPageOnly) {
  feed.Set(25, 25);
  Search("rock");
  auto turn = [&](QWidget *target, int delta) {
    QWheelEvent wheel(QPointF(10, 10), target->mapToGlobal(QPointF(10, 10)), QPoint(),
                      QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &wheel);
    return wheel.isAccepted();
  };
  QWidget *area = page->sbResults->viewport();
  Bar()->setValue(0);
  // Three results a notch.
  const int notch = 3 * 112;
  EXPECT_TRUE(turn(area, -120));
  EXPECT_EQ(Bar()->value(), notch);
  EXPECT_TRUE(turn(area, -240));
  EXPECT_EQ(Bar()->value(), 3 * notch);
  EXPECT_TRUE(turn(area, 120));
  EXPECT_EQ(Bar()->value(), 2 * notch);
  // Finer wheels add up to whole notches.
  turn(area, -60);
  EXPECT_EQ(Bar()->value(), 2 * notch);
  turn(area, -60);
  EXPECT_EQ(Bar()->value(), 3 * notch);
  // A turn that no control used reaches the page.
  EXPECT_TRUE(turn(page.get(), -120));
  EXPECT_EQ(Bar()->value(), 4 * notch);
  // The position stays within the range.
  for (int i = 0; i < 200; ++i) turn(area, -120);
  EXPECT_EQ(Bar()->value(), Bar()->maximum());
  for (int i = 0; i < 200; ++i) turn(area, 120);
  EXPECT_EQ(Bar()->value(), 0);

  page->hide(); // another page is shown
  EXPECT_FALSE(turn(page.get(), -120));
  EXPECT_EQ(Bar()->value(), 0);
}

TEST_F(FindPageTest, WideningTheWindowWidensThePanels) {
  feed.Set(4, 4);
  Search("rock");
  const int before = AreaWidth();
  const int descriptionWidth = page->VisualResults[0]->DescriptionLabel->width();
  page->resize(page->width() + 150, page->height());
  ASSERT_TRUE(ProcessEventsUntil([&] { return AreaWidth() == before + 150; }));
  for (TVisualResult *r : page->VisualResults) {
    EXPECT_EQ(r->Panel->width(), before + 150 - 20);
    EXPECT_EQ(r->SelectImage->x(), before + 150 - 77 - 25);
    EXPECT_EQ(r->DescriptionLabel->width(), descriptionWidth);
    EXPECT_EQ(r->TitleLabel->width(), r->SelectImage->x() - 8 - 144);
  }
  EXPECT_TRUE(page->sbResults->updatesEnabled());
}

// The results' toggles are check buttons named after their video: they are one
// stop of Tab after the search bar, the arrow keys go from one to the next,
// Space ticks.
TEST_F(FindPageTest, TickingByKeyboard) {
  feed.Set(3, 3);
  Search("rock");
  page->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(page.get()));
  page->iFindSearch->setFocus();
  QTest::keyClick(page->iFindSearch, Qt::Key_Tab);
  const auto toggle = [&](int i) { return page->VisualResults[i]->SelectImage; };
  ASSERT_EQ(QApplication::focusWidget(), toggle(0));
  QAccessibleInterface *first = QAccessible::queryAccessibleInterface(toggle(0));
  EXPECT_EQ(first->role(), QAccessible::CheckBox);
  EXPECT_EQ(first->text(QAccessible::Name), "Add Song 1");
  EXPECT_FALSE(first->state().checked);

  QTest::keyClick(toggle(0), Qt::Key_Down);
  ASSERT_EQ(QApplication::focusWidget(), toggle(1));
  QTest::keyClick(toggle(1), Qt::Key_Space);
  EXPECT_TRUE(page->VisualResults[1]->Selected);
  EXPECT_TRUE(QAccessible::queryAccessibleInterface(toggle(1))->state().checked);
  EXPECT_TRUE(ShowsPicture(toggle(1), page->iFindRemove));
  QTest::keyClick(toggle(1), Qt::Key_Up);
  EXPECT_EQ(QApplication::focusWidget(), toggle(0));
  QTest::keyClick(toggle(0), Qt::Key_Up); // the first stays
  EXPECT_EQ(QApplication::focusWidget(), toggle(0));
  QTest::keyClick(toggle(0), Qt::Key_Space);
  QTest::keyClick(toggle(0), Qt::Key_Space);
  EXPECT_FALSE(page->VisualResults[0]->Selected);
  // Tab goes on to the save bar; Shift+Tab comes back to the toggle left.
  QTest::keyClick(toggle(0), Qt::Key_Down);
  QTest::keyClick(toggle(1), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), page->cbAddPlayList)
      << QApplication::focusWidget()->objectName().toStdString();
  QTest::keyClick(page->cbAddPlayList, Qt::Key_Backtab);
  EXPECT_EQ(QApplication::focusWidget(), toggle(1));
}

TEST_F(FindPageTest, SavingNeedsATickedVideo) {
  feed.Set(3, 3);
  Search("rock");
  page->edPlayListName->setText("Road Trip");
  const auto enabled = [&] {
    page->RunEnableRules();
    return page->aSaveVideos->isEnabled();
  };
  EXPECT_FALSE(enabled()) << "nothing ticked";
  page->ModifySongSelection(1);
  EXPECT_TRUE(enabled());
  page->ModifySongSelection(1);
  EXPECT_FALSE(enabled());
}

// Symbols are sent percent-encoded, so that the service reads them as typed.
TEST_F(FindPageTest, KeywordsAreEncodedInTheRequest) {
  feed.Set(0, 0);
  page->cbCategory->setCurrentText("Any");
  Search("rock & <roll>");
  EXPECT_EQ(LastRequest(), "/feeds/api/videos?vq=rock%20%26%20%3Croll%3E&orderby=relevance&"
                           "start-index=1&max-results=25");
  EXPECT_EQ(page->lbSearchOutcome->text(), "No videos found for \"rock & <roll>\".");
}

TEST_F(FindPageTest, APageShownAfterAResizeWhileHiddenLaysOutForItsSize) {
  feed.Set(4, 4);
  Search("rock");
  page->hide(); // another page is shown
  page->resize(page->width() + 200, page->height());
  QApplication::processEvents();
  page->show();
  ASSERT_TRUE(ProcessEventsUntil([&] { return page->sbResults->isVisible(); }));
  const int width = AreaWidth();
  for (TVisualResult *r : page->VisualResults) {
    EXPECT_EQ(r->Panel->width(), width - 20);
    EXPECT_EQ(r->SelectImage->x() + r->SelectImage->width(), width - 25);
  }
}

// The library may change while the program runs: the categories are read
// again when the page shows, once a minute at most.
TEST_F(FindPageTest, CategoriesAreReadAgainWhenThePageShows) {
  feed.SetCategories("<categories><category term='Loops' count='2'/></categories>");
  page = std::make_unique<TFindPage>(*store, nullptr);
  page->show();
  ASSERT_TRUE(ProcessEventsUntil([&] { return page->cbCategory->count() == 2; }));
  feed.SetCategories("<categories><category term='Loops' count='2'/>"
                     "<category term='Dance' count='1'/></categories>");
  // Shown again within the minute: nothing is asked.
  page->hide();
  page->show();
  QTest::qWait(200);
  EXPECT_EQ(page->cbCategory->count(), 2);
  // A minute later it is.
  page->CategoriesRead -= std::chrono::minutes(1);
  page->hide();
  page->show();
  ASSERT_TRUE(ProcessEventsUntil([&] { return page->cbCategory->count() == 3; }));
  EXPECT_EQ(page->cbCategory->itemText(2), "Dance");
}

} // namespace

// The categories come from the service in the background; the page offers
// its fixed list until they do. Choosing one as a user does searches again
// and is remembered for the next start.
TEST_F(FindPageTest, CategoriesOfTheLibraryAndChoosingOne) {
  const auto items = [](const QComboBox *box) {
    QStringList texts;
    for (int i = 0; i < box->count(); ++i) texts << box->itemText(i);
    return texts;
  };
  const auto choose = [](QComboBox *box, const QString &text) {
    box->setFocus();
    while (box->currentText() != text && box->currentIndex() + 1 < box->count())
      QTest::keyClick(box, Qt::Key_Down);
  };
  feed.SetCategories("<categories><category term='Loops' count='2'/>"
                     "<category term='World &amp; Roots' count='1'/></categories>");
  feed.CloseGate();
  page = std::make_unique<TFindPage>(*store, nullptr);
  QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                   page.get(), [this] { page->RunEnableRules(); });
  page->show();
  // At once, while the service holds its answer back: the fixed list.
  EXPECT_EQ(page->cbCategory->count(), 17);
  EXPECT_EQ(page->cbCategory->currentText(), "Music");
  feed.OpenGate();
  ASSERT_TRUE(ProcessEventsUntil([&] { return page->cbCategory->count() == 3; }));
  EXPECT_EQ(items(page->cbCategory), QStringList({"Any", "Loops", "World & Roots"}));
  EXPECT_EQ(page->cbCategory->currentText(), "Any"); // "Music" is not offered

  // Choosing before any search only remembers the choice.
  choose(page->cbCategory, "Loops");
  EXPECT_TRUE(feed.Requests().empty());
  Search("song");
  EXPECT_EQ(LastRequest(),
            "/feeds/api/videos/-/Loops?vq=song&orderby=relevance&start-index=1&max-results=25");
  // Then every choice searches again, with the keywords as they stand.
  page->edTubeSearch->setText("blue");
  choose(page->cbCategory, "World & Roots");
  ASSERT_TRUE(ProcessEventsUntil([&] { return page->TubeSearch == nullptr; }));
  EXPECT_EQ(LastRequest(), "/feeds/api/videos/-/World%20%26%20Roots?vq=blue&orderby=relevance&"
                           "start-index=1&max-results=25");
  EXPECT_EQ(page->VisualResults.size(), 25u);
  // A choice while a search runs searches again once it has ended.
  feed.CloseGate();
  QTest::keyClick(page->edTubeSearch, Qt::Key_Return);
  ASSERT_NE(page->TubeSearch, nullptr);
  page->cbCategory->setFocus();
  QTest::keyClick(page->cbCategory, Qt::Key_Up);
  EXPECT_EQ(page->cbCategory->currentText(), "Loops");
  feed.OpenGate();
  ASSERT_TRUE(ProcessEventsUntil([&] {
    return page->TubeSearch == nullptr &&
           LastRequest().find("/-/Loops?vq=blue") != std::string::npos;
  }));
  EXPECT_EQ(feed.Requests().size(), 4u);
  EXPECT_EQ(StoreReadString(store_key::kSearchCategory), "Loops");

  // The next page chooses the remembered category once it is offered; when
  // the service gives no list, "Any" of the fixed list stands in for it.
  page = std::make_unique<TFindPage>(*store, nullptr);
  ASSERT_TRUE(ProcessEventsUntil([&] { return page->cbCategory->count() == 3; }));
  EXPECT_EQ(page->cbCategory->currentText(), "Loops");
  feed.SetCategories(std::nullopt);
  page = std::make_unique<TFindPage>(*store, nullptr);
  EXPECT_EQ(page->cbCategory->count(), 17);
  EXPECT_EQ(page->cbCategory->currentText(), "Any");
  EXPECT_TRUE(boxes.Boxes().empty());
}
