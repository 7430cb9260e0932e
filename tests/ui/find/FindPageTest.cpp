// The Find page against a feed server on 127.0.0.1: searching, "More", the
// result panels with their thumbnails, ticking, the wheel and resizing.
#include "ui/find/FindPage.h"
#include "core/playback/PlaySequencer.h"
#include "core/search/TubeSearch.h"
#include "core/settings/Settings.h"
#include "support/EventLoop.h"
#include "support/FeedServer.h"
#include "support/ModalWatcher.h"
#include "support/TestFolders.h"
#include "ui/app/MainWindow.h"
#include "ui/find/ResultPanels.h"
#include "ui/play/PlayPage.h"
#include "ui/share/SharePage.h"
#include "ui/widgets/WebImage.h"

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
    Settings = new TSettings();
    window = std::make_unique<TfMain>();
    window->pMain->setCurrentWidget(window->pFind);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  void TearDown() override {
    window.reset();
    // Thumbnail fetches of freed panels end by themselves.
    EXPECT_TRUE(ProcessEventsUntil([] { return TDownLoadThread::Running() == 0; }));
  }

  // Types the keywords and presses Enter, then waits for the panels.
  void Search(const std::string &keywords) {
    window->pFind->edTubeSearch->setText(QString::fromStdString(keywords));
    QTest::keyClick(window->pFind->edTubeSearch, Qt::Key_Return);
    ASSERT_TRUE(ProcessEventsUntil([&] { return window->pFind->TubeSearch == nullptr; }));
  }
  void PressMore() {
    ASSERT_TRUE(window->pFind->btnMore->isVisible());
    QTest::mouseClick(window->pFind->btnMore, Qt::LeftButton);
    ASSERT_TRUE(ProcessEventsUntil([&] { return window->pFind->TubeSearch == nullptr; }));
  }
  std::string LastRequest() {
    const auto requests = feed.Requests();
    return requests.empty() ? std::string() : requests.back();
  }
  int AreaWidth() const { return window->pFind->sbResults->width(); }
  QScrollBar *Bar() const { return window->pFind->sbResults->verticalScrollBar(); }
  bool ShowsPicture(const QLabel *label, const QLabel *source) const {
    return label->pixmap().toImage() == source->pixmap().toImage();
  }

  test::TestFolders folders;
  test::ModalWatcher boxes;
  test::FeedServer feed;
  std::unique_ptr<TfMain> window;
};

TEST_F(FindPageTest, FirstPageAndMore) {
  feed.Set(60, 60);
  window->pFind->cbCategory->setCurrentText("Music");
  Search("blue  sky");
  EXPECT_EQ(
      LastRequest(),
      "/feeds/api/videos/-/Music?vq=blue%20%20sky&orderby=relevance&start-index=1&max-results=25");

  ASSERT_EQ(window->pFind->VisualResults.size(), 25u);
  const int width = AreaWidth();
  for (int i = 0; i < 25; ++i) {
    const TVisualResult &r = *window->pFind->VisualResults[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(r.Video.Title.rfind("Song " + std::to_string(i + 1), 0), 0u);
    EXPECT_EQ(r.Panel->geometry(), QRect(0, i * 112, width - 20, 110));
    EXPECT_FALSE(r.Selected);
    EXPECT_EQ(r.SelectImage->geometry(), QRect(width - 77 - 25, 8, 77, 66));
    EXPECT_TRUE(ShowsPicture(r.SelectImage, window->pFind->iFindAdd));
    EXPECT_EQ(r.ThumbnailImage->geometry(), QRect(8, 5, 130, 97));
    EXPECT_EQ(r.TitleLabel->geometry(), QRect(144, 5, 321, 17));
    EXPECT_TRUE(r.TitleLabel->font().bold());
    EXPECT_EQ(r.DescriptionLabel->geometry(), QRect(144, 89, width - 165, 17));
    EXPECT_EQ(r.ViewsLabel->text().toStdString(), "Views: " + std::to_string(1001 + i));
    EXPECT_EQ(r.ViewsLabel->pos(), QPoint(144, 32));
    EXPECT_EQ(r.RatingLabel->text(), "Rating: 4.5");
    EXPECT_EQ(r.RatingLabel->pos(), QPoint(144, 51));
    EXPECT_EQ(r.DurationLabel->text(), QString("Duration: 1:%1").arg(i + 1, 2, 10, QChar('0')));
    EXPECT_EQ(r.DurationLabel->pos(), QPoint(144, 70));
  }
  EXPECT_EQ(window->pFind->VisualResults.back()->Panel->y(), 2688);
  EXPECT_TRUE(window->pFind->btnMore->isVisible());
  EXPECT_TRUE(window->pFind->sbResults->isVisible());
  EXPECT_TRUE(boxes.Boxes().empty());

  // "More" repeats the search as it was started, whatever the controls now say,
  // and keeps the place the user had scrolled to.
  window->pFind->edTubeSearch->setText("something else");
  window->pFind->cbCategory->setCurrentText("Any");
  Bar()->setValue(500);
  PressMore();
  EXPECT_EQ(
      LastRequest(),
      "/feeds/api/videos/-/Music?vq=blue%20%20sky&orderby=relevance&start-index=26&max-results=25");
  ASSERT_EQ(window->pFind->VisualResults.size(), 50u);
  EXPECT_EQ(window->pFind->VisualResults[25]->Panel->y(), 2800);
  EXPECT_EQ(window->pFind->VisualResults[25]->Video.Title, "Song 26");
  EXPECT_EQ(window->pFind->VisualResults[49]->Panel->y(), 49 * 112);
  EXPECT_EQ(Bar()->value(), 500);
  // The area reaches down to the last panel's bottom edge.
  EXPECT_EQ(Bar()->maximum() + window->pFind->sbResults->viewport()->height(), 49 * 112 + 110);

  PressMore();
  EXPECT_NE(LastRequest().find("start-index=51&"), std::string::npos);
  EXPECT_EQ(window->pFind->VisualResults.size(), 60u);
  // All 60 are held; "More" stays as it was, only a new search hides it.
  EXPECT_TRUE(window->pFind->btnMore->isVisible());
}

TEST_F(FindPageTest, MoreIsShownWhileTheFeedHasMore) {
  // {videos on the page, total claimed, More shown}
  const std::vector<std::tuple<int, int, bool>> cases = {
      {25, 25, false}, {25, 26, true}, {3, 3, false}, {0, 0, false}};
  for (const auto &[available, total, shown] : cases) {
    SCOPED_TRACE(testing::Message() << available << " of " << total);
    feed.Set(available, total);
    window->pFind->cbCategory->setCurrentText("Any");
    Search("rock");
    EXPECT_EQ(LastRequest(),
              "/feeds/api/videos?vq=rock&orderby=relevance&start-index=1&max-results=25");
    EXPECT_EQ(window->pFind->VisualResults.size(), static_cast<size_t>(available));
    EXPECT_EQ(window->pFind->btnMore->isVisible(), shown);
  }
}

TEST_F(FindPageTest, MorePastTheEndAddsNothingAndStaysShown) {
  feed.Set(26, 26);
  Search("rock");
  PressMore();
  ASSERT_EQ(window->pFind->VisualResults.size(), 26u);
  EXPECT_TRUE(window->pFind->btnMore->isVisible());
  PressMore();
  EXPECT_NE(LastRequest().find("start-index=27&"), std::string::npos);
  EXPECT_EQ(window->pFind->VisualResults.size(), 26u);
  EXPECT_TRUE(window->pFind->btnMore->isVisible());
}

TEST_F(FindPageTest, FailedRequestsShowNothingAndSayNothing) {
  feed.Set(30, 30);
  Search("rock");
  ASSERT_EQ(window->pFind->VisualResults.size(), 25u);
  window->pFind->VisualResults[0]->Selected = true;

  // "More" that fails leaves the panels as they were.
  feed.SetFailing(true);
  PressMore();
  EXPECT_EQ(window->pFind->VisualResults.size(), 25u);
  EXPECT_TRUE(window->pFind->btnMore->isVisible());
  EXPECT_TRUE(window->pFind->sbResults->isVisible());

  // A new search that fails leaves an empty area, "More" hidden.
  Search("jazz");
  EXPECT_TRUE(window->pFind->VisualResults.empty());
  EXPECT_FALSE(window->pFind->btnMore->isVisible());
  EXPECT_TRUE(window->pFind->sbResults->isVisible());
  EXPECT_EQ(window->pFind->sbResults->widget()->findChildren<TClickPanel *>().size(), 0);
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(FindPageTest, NothingStartsWhileASearchRuns) {
  feed.Set(30, 30);
  Search("rock");
  window->pFind->VisualResults[1]->Selected = true;
  feed.CloseGate();
  window->pFind->edTubeSearch->setText("jazz");
  QTest::keyClick(window->pFind->edTubeSearch, Qt::Key_Return);
  ASSERT_TRUE(window->pFind->TubeSearch);
  // The old panels, ticked ones included, are gone; the busy picture shows.
  EXPECT_TRUE(window->pFind->VisualResults.empty());
  EXPECT_TRUE(window->pFind->sbResults->isHidden());
  EXPECT_TRUE(window->pFind->imgProgress->isVisible());
  EXPECT_EQ(window->pFind->imgProgressMovie->state(), QMovie::Running);

  ASSERT_TRUE(ProcessEventsUntil([&] { return feed.Requests().size() == 2; }));
  window->pFind->aSearchExecute();
  window->pFind->aAddMoreExecute();
  QTest::keyClick(window->pFind->edTubeSearch, Qt::Key_Return);
  window->pFind->aSearchUpdate();
  EXPECT_FALSE(window->pFind->aSearch->isEnabled());
  feed.OpenGate();
  ASSERT_TRUE(ProcessEventsUntil([&] { return window->pFind->TubeSearch == nullptr; }));
  EXPECT_EQ(feed.Requests().size(), 2u);
  EXPECT_EQ(window->pFind->VisualResults.size(), 25u);
  EXPECT_EQ(window->pFind->imgProgressMovie->state(), QMovie::NotRunning);
}

TEST_F(FindPageTest, EnterIsConsumedAndSearchesOnlyWithKeywords) {
  for (const std::string keywords : {"", "   "}) {
    window->pFind->edTubeSearch->setText(QString::fromStdString(keywords));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(window->pFind->edTubeSearch, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(window->pFind->edTubeSearch->text().toStdString(), keywords);
  }
  // Nothing was asked for the empty edit; the spaces were searched.
  ASSERT_TRUE(ProcessEventsUntil([&] { return window->pFind->TubeSearch == nullptr; }));
  EXPECT_EQ(
      feed.Requests(),
      std::vector<std::string>{
          "/feeds/api/videos/-/Music?vq=%20%20%20&orderby=relevance&start-index=1&max-results=25"});
}

TEST_F(FindPageTest, ThumbnailsArriveInTheBackground) {
  feed.Set(6, 6);
  Search("rock");
  ASSERT_EQ(window->pFind->VisualResults.size(), 6u);
  // Every fetch has started (its address taken) and ended.
  ASSERT_TRUE(ProcessEventsUntil([&] {
    return std::all_of(window->pFind->VisualResults.begin(), window->pFind->VisualResults.end(),
                       [](auto *r) {
                         const TWebPicture &p = r->ThumbnailImage->WebPicture();
                         return p.URL() == r->Video.Thumbnail && !p.Busy();
                       });
  }));
  for (int i = 0; i < 6; ++i) {
    const TWebPicture &picture = window->pFind->VisualResults[i]->ThumbnailImage->WebPicture();
    const bool bad = i + 1 == 3 || i + 1 == 4; // a 404 and a web page
    EXPECT_EQ(picture.Empty(), bad) << i;
    if (!bad) {
      EXPECT_EQ(picture.Image().size(), QSize(130, 97));
      const QImage shot = window->pFind->VisualResults[i]->ThumbnailImage->grab().toImage();
      EXPECT_LT(std::abs(shot.pixelColor(65, 48).green() - QColor(Qt::darkCyan).green()), 20);
    }
  }
}

TEST_F(FindPageTest, TickingPanels) {
  feed.Set(3, 3);
  Search("rock");
  ASSERT_EQ(window->pFind->VisualResults.size(), 3u);
  TVisualResult &r = *window->pFind->VisualResults[1];
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
    EXPECT_TRUE(ShowsPicture(r.SelectImage, c.selectedAfter ? window->pFind->iFindRemove
                                                            : window->pFind->iFindAdd));
  }
  EXPECT_FALSE(window->pFind->VisualResults[0]->Selected);
  EXPECT_FALSE(window->pFind->VisualResults[2]->Selected);
}

TEST_F(FindPageTest, LongTextsAreCutWithAnEllipsis) {
  feed.Set(2, 2);
  Search("rock");
  const TVisualResult &r = *window->pFind->VisualResults[1];
  const QString title = r.TitleLabel->text();
  EXPECT_TRUE(title.endsWith(u'\u2026')) << title.toStdString();
  EXPECT_TRUE(QString::fromStdString(r.Video.Title).startsWith(title.chopped(1)));
  EXPECT_LE(r.TitleLabel->fontMetrics().horizontalAdvance(title), 321);

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
  EXPECT_EQ(window->pFind->VisualResults[0]->DescriptionLabel->text(), "Description: Short 1");
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
  QWidget *area = window->pFind->sbResults->viewport();
  Bar()->setValue(0);
  EXPECT_TRUE(turn(area, -120));
  EXPECT_EQ(Bar()->value(), 40);
  EXPECT_TRUE(turn(area, -240));
  EXPECT_EQ(Bar()->value(), 120);
  EXPECT_TRUE(turn(area, 120));
  EXPECT_EQ(Bar()->value(), 80);
  // Finer wheels add up to whole notches.
  turn(area, -60);
  EXPECT_EQ(Bar()->value(), 80);
  turn(area, -60);
  EXPECT_EQ(Bar()->value(), 120);
  // A turn that no control used reaches the window.
  EXPECT_TRUE(turn(window.get(), -120));
  EXPECT_EQ(Bar()->value(), 160);
  // The position stays within the range.
  for (int i = 0; i < 200; ++i) turn(area, -120);
  EXPECT_EQ(Bar()->value(), Bar()->maximum());
  for (int i = 0; i < 200; ++i) turn(area, 120);
  EXPECT_EQ(Bar()->value(), 0);

  window->pMain->setCurrentWidget(window->pPlay);
  EXPECT_FALSE(turn(window.get(), -120));
  EXPECT_EQ(Bar()->value(), 0);
}

TEST_F(FindPageTest, WideningTheWindowWidensThePanels) {
  feed.Set(4, 4);
  Search("rock");
  const int before = AreaWidth();
  const int descriptionWidth = window->pFind->VisualResults[0]->DescriptionLabel->width();
  window->resize(window->width() + 150, window->height());
  ASSERT_TRUE(ProcessEventsUntil([&] { return AreaWidth() == before + 150; }));
  for (TVisualResult *r : window->pFind->VisualResults) {
    EXPECT_EQ(r->Panel->width(), before + 150 - 20);
    EXPECT_EQ(r->SelectImage->x(), before + 150 - 77 - 25);
    EXPECT_EQ(r->DescriptionLabel->width(), descriptionWidth);
  }
  EXPECT_TRUE(window->pFind->sbResults->updatesEnabled());
}

} // namespace
