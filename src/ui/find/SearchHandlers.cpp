// The main window's search handlers: starting a search and "More", the result
// panels that a finished search adds, ticking them, and scrolling and resizing
// the result area.
#include "ui/widgets/ImageButtons.h"
#include "ui/app/MainWindow.h"
#include "ui/find/ResultPanels.h"
#include "core/search/TubeSearch.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QToolButton>
#include <QWheelEvent>

namespace sonabox {

namespace {

constexpr int WheelNotch = 120; // wheel units per notch
constexpr int WheelStep = 40;   // pixels the result area moves per notch
constexpr int FindPage = 1;     // index of the Find page in pMain

// Carries the events of the search controls to the window's handlers: Enter
// in the keywords edit, the wheel (over the result area, or unused by the
// control under the pointer) and the resizing of the result area.
class TSearchEvents : public QObject {
public:
  explicit TSearchEvents(TfMain &window) : QObject(&window), window_(window) {}

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    switch (event->type()) {
    case QEvent::KeyPress:
      if (watched == window_.edTubeSearch)
        return window_.edTubeSearchKeyPress(static_cast<QKeyEvent *>(event)->key());
      break;
    case QEvent::Wheel: return Wheel(static_cast<QWheelEvent *>(event));
    case QEvent::Resize:
      if (watched == window_.sbResults) window_.sbResultsResize();
      break;
    default: break;
    }
    return false;
  }

private:
  // Whole notches are passed on; finer wheels add up to them.
  bool Wheel(QWheelEvent *event) {
    if (window_.pMain->currentIndex() != FindPage) return false;
    delta_ += event->angleDelta().y();
    for (; delta_ <= -WheelNotch; delta_ += WheelNotch) window_.sbResultsMouseWheelDown();
    for (; delta_ >= WheelNotch; delta_ -= WheelNotch) window_.sbResultsMouseWheelUp();
    event->accept();
    return true;
  }

  TfMain &window_;
  int delta_ = 0;
};

} // namespace

void TfMain::ConnectSearch() {
  connect(aSearch, &QAction::triggered, this, &TfMain::aSearchExecute);
  connect(iFindSearch, &TImageButton::clicked, this, &TfMain::aSearchExecute);
  connect(aAddMore, &QAction::triggered, this, &TfMain::aAddMoreExecute);
  auto *events = new TSearchEvents(*this);
  edTubeSearch->installEventFilter(events);
  sbResults->installEventFilter(events);
  sbResults->viewport()->installEventFilter(events);
  sbResults->verticalScrollBar()->installEventFilter(events);
  installEventFilter(events); // wheel turns that no control used
}

void TfMain::aSearchExecute() {
  if (TubeSearch) return;
  auto *search =
      new TTubeSearch(edTubeSearch->text().toStdString(), cbCategory->currentText().toStdString());
  search->SetOnTerminate(this, [this](TTubeSearch &s) { OnTubeSearchTerminate(s); });
  TubeSearch = search;
  search->start();
  // The old panels go while the request is under way; its results can only
  // arrive on this thread, after them.
  ClearResults();
  SearchKeywords = edTubeSearch->text().toStdString();
  SearchCategory = cbCategory->currentText().toStdString();
  sbResults->hide();
}

void TfMain::aAddMoreExecute() {
  if (TubeSearch) return;
  auto *search = new TTubeSearch(SearchKeywords, SearchCategory);
  search->SetStartIndex(static_cast<int32_t>(VisualResults.size()) + 1);
  search->SetOnTerminate(this, [this](TTubeSearch &s) { OnTubeSearchTerminate(s); });
  TubeSearch = search;
  search->start();
  sbResults->hide();
}

bool TfMain::edTubeSearchKeyPress(int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  aSearchUpdate();
  if (aSearch->isEnabled()) aSearchExecute();
  return true;
}

void TfMain::OnTubeSearchTerminate(TTubeSearch &search) {
  QWidget *area = sbResults->widget();
  QScrollBar *bar = sbResults->verticalScrollBar();
  const int scrolled = bar->value();
  const int areaWidth = sbResults->width();
  const QPixmap add = iFindAdd->pixmap();
  for (const TVideo &video : search.Videos()) {
    const int index = static_cast<int>(VisualResults.size());
    auto *result = new TVisualResult(video, area);
    VisualResults.push_back(result);
    SetSelection(*result, false, add);
    result->DescriptionLabel->resize(areaWidth - 165, result->DescriptionLabel->height());
    result->Panel->Tag = index;
    connect(result->Panel, &TClickPanel::Clicked, this, &TfMain::ModifySongSelection);
    result->Panel->setGeometry(0, index * ResultPanelPitch, areaWidth - 20, ResultPanelHeight);
    result->SelectImage->Tag = index;
    connect(result->SelectImage, &TClickImage::Clicked, this, &TfMain::ModifySongSelection);
    result->SelectImage->move(areaWidth - result->SelectImage->width() - 25, 8);
  }
  if (!VisualResults.empty())
    area->setMinimumHeight(static_cast<int>(VisualResults.size()) * ResultPanelPitch -
                           (ResultPanelPitch - ResultPanelHeight));
  if (static_cast<int64_t>(VisualResults.size()) < search.TotalResults()) btnMore->show();
  sbResults->show();
  bar->setValue(scrolled);
  TubeSearch = nullptr;
}

void TfMain::ClearResults() {
  for (TVisualResult *result : VisualResults) delete result;
  VisualResults.clear();
  sbResults->widget()->setMinimumHeight(0);
  btnMore->hide();
}

void TfMain::ModifySongSelection(int index) {
  if (index < 0 || index >= static_cast<int>(VisualResults.size())) return;
  TVisualResult &result = *VisualResults[index];
  if (result.Selected)
    SetSelection(result, false, iFindAdd->pixmap());
  else
    SetSelection(result, true, iFindRemove->pixmap());
}

void TfMain::sbResultsMouseWheelDown() {
  QScrollBar *bar = sbResults->verticalScrollBar();
  bar->setValue(bar->value() + WheelStep);
}

void TfMain::sbResultsMouseWheelUp() {
  QScrollBar *bar = sbResults->verticalScrollBar();
  bar->setValue(bar->value() - WheelStep);
}

void TfMain::sbResultsResize() {
  if (VisualResults.empty() || !sbResults->isVisible()) return;
  sbResults->setUpdatesEnabled(false);
  const int width = sbResults->width() - 20;
  for (TVisualResult *result : VisualResults) result->Panel->resize(width, result->Panel->height());
  sbResults->setUpdatesEnabled(true);
}

} // namespace sonabox
