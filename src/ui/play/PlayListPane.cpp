// The main window's playlist handlers: the playlist store it owns, the three
// playlist lists, choosing, filtering and pruning a playlist on the Play page,
// and saving ticked search results into a playlist on the Find page.
#include "ui/widgets/ImageButtons.h"
#include "ui/app/MainWindow.h"
#include "core/settings/Settings.h"
#include "core/playlists/DataTable.h"
#include "ui/widgets/DataTableModel.h"
#include "core/playlists/PlayListManager.h"
#include "ui/find/ResultPanels.h"

#include <QAction>
#include <QComboBox>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QTableView>

#include <exception>

namespace sonabox {

namespace {

QString Caption() { return QGuiApplication::applicationDisplayName(); }

// A typed character clears the choice of a playlist before it lands in the
// new-playlist name.
class TNameKeys : public QObject {
public:
  explicit TNameKeys(TfMain &window) : QObject(&window), window_(window) {}

protected:
  bool eventFilter(QObject *, QEvent *event) override {
    if (event->type() == QEvent::KeyPress && !static_cast<QKeyEvent *>(event)->text().isEmpty())
      window_.edPlayListNameKeyPress();
    return false;
  }

private:
  TfMain &window_;
};

// "Title LIKE '%text%'", a quote inside the pattern doubled.
std::string TitleFilter(const std::string &text) {
  std::string pattern = "%" + text + "%";
  std::string quoted;
  for (char c : pattern) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return "Title LIKE '" + quoted + "'";
}

} // namespace

void TfMain::CreatePlayListStore() {
  try {
    PlayListManager =
        std::make_unique<TPlayListManager>(Settings->DataPath(), Settings->PlayListPath());
  } catch (const EDataTableError &error) {
    // A damaged index does not keep the program from starting: it is kept
    // under a new name and the store starts with a new, empty one.
    const std::string kept = RecoverDamagedIndex(Settings->DataPath());
    QMessageBox::critical(
        this, Caption(),
        QString::fromStdString("The playlist index \"" + Settings->DataPath() +
                               "playlists.xml\" could not be read: " + error.what() +
                               "\n\nIt has been kept as \"" + kept +
                               "\" and a new, empty playlist index has been started."));
    PlayListManager =
        std::make_unique<TPlayListManager>(Settings->DataPath(), Settings->PlayListPath());
  }
}

void TfMain::ConnectPlayListPane() {
  connect(cbPlayLists, &QComboBox::currentTextChanged, this, Guarded(&TfMain::cbPlayListsChange));
  connect(edSearch, &QLineEdit::textChanged, this, Guarded(&TfMain::edSearchChange));
  connect(aDeleteVideo, &QAction::triggered, this, Guarded(&TfMain::aDeleteVideoExecute));
  connect(aDeletePlayList, &QAction::triggered, this, Guarded(&TfMain::aDeletePlayListExecute));
  connect(aSaveVideos, &QAction::triggered, this, Guarded(&TfMain::aSaveVideosExecute));
  connect(iFindSave, &TImageButton::clicked, this, Guarded(&TfMain::aSaveVideosExecute));
  connect(cbAddPlayList, &QComboBox::currentTextChanged, this, &TfMain::cbAddPlayListChange);
  connect(cbCategory, &QComboBox::currentTextChanged, this, &TfMain::cbAddPlayListChange);
  edPlayListName->installEventFilter(new TNameKeys(*this));

  // The grid and the open playlist share one current row: choosing a row in
  // the grid moves the table, and a refreshed grid shows the table's row.
  connect(sgPlayList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex &current) {
            if (current.isValid() && cdsPlayList->Active())
              cdsPlayList->SetRecNo(current.row() + 1);
          });
  connect(ds, &QAbstractItemModel::modelReset, this, [this] {
    if (cdsPlayList->Active() && cdsPlayList->RecNo() > 0)
      sgPlayList->setCurrentIndex(ds->index(cdsPlayList->RecNo() - 1, 0));
  });
}

void TfMain::FillPlayListCombo(QComboBox *box, bool keep) {
  const QString remembered = cbAddPlayList->currentText();
  const QString before = box->currentText();
  {
    // One bulk update of the items, which on its own runs no change handler.
    const QSignalBlocker quiet(box);
    box->clear();
    for (const std::string &name : PlayListManager->PlayListNames())
      box->addItem(QString::fromStdString(name));
    box->setCurrentIndex(-1);
  }
  if (!keep || remembered.isEmpty()) return;
  const int index = box->findText(remembered, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (index < 0) return;
  // Selecting an item from code runs the change handler, unless the text
  // stays what it was.
  if (remembered == before) {
    const QSignalBlocker quiet(box);
    box->setCurrentIndex(index);
  } else {
    box->setCurrentIndex(index);
  }
}

void TfMain::RefreshPlayListCombos(bool keep) {
  FillPlayListCombo(cbAddPlayList, keep);
  FillPlayListCombo(cbPlayLists, keep);
  FillPlayListCombo(cbSharePlayList, false);
}

void TfMain::cbPlayListsChange() {
  cdsPlayList->Close();
  PlayListManager->OpenPlayList(*cdsPlayList, cbPlayLists->currentText().toStdString());
}

void TfMain::edSearchChange() {
  if (!cdsPlayList->Active()) return;
  const std::string text = edSearch->text().toStdString();
  if (!text.empty()) {
    cdsPlayList->SetFilter(TitleFilter(text));
    cdsPlayList->SetFiltered(true);
  } else {
    cdsPlayList->SetFiltered(false);
    cdsPlayList->SetFilter("");
  }
}

void TfMain::aDeleteVideoExecute() {
  if (!cdsPlayList->Active()) return;
  cdsPlayList->Delete();
  cdsPlayList->SaveToFile();
}

void TfMain::aDeletePlayListExecute() {
  if (!cdsPlayList->Active()) return;
  cdsPlayList->Close();
  PlayListManager->DeletePlayList(cbPlayLists->currentText().toStdString());
  cbPlayLists->setCurrentIndex(-1);
  RefreshPlayListCombos(false);
}

void TfMain::aSaveVideosExecute() {
  TDataTable playList;
  std::string name = cbAddPlayList->currentText().toStdString();
  if (!name.empty()) {
    PlayListManager->OpenPlayList(playList, name);
  } else {
    name = edPlayListName->text().toStdString();
    PlayListManager->CreatePlayList(playList, name);
  }
  int count = 0;
  for (const TVisualResult *result : VisualResults) {
    if (!result->Selected) continue;
    ++count;
    playList.Insert();
    StoreVideoInRow(result->Video, playList);
    playList.Post();
  }
  playList.SaveToFile();
  RefreshPlayListCombos(true);
  if (cdsPlayList->Active() && cdsPlayList->FileName() == playList.FileName()) {
    cdsPlayList->Close();
    cdsPlayList->LoadFromFile(playList.FileName());
  }
  QMessageBox::information(
      this, Caption(),
      QString::fromStdString(std::to_string(count) + " videos added to \"" + name + "\""));
}

void TfMain::cbAddPlayListChange() { edPlayListName->clear(); }

void TfMain::edPlayListNameKeyPress() { cbAddPlayList->setCurrentIndex(-1); }

} // namespace sonabox
