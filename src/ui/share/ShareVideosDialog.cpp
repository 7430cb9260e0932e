#include "ui/share/ShareVideosDialog.h"

#include "core/playlists/PlayListManager.h"
#include "ui/widgets/Guarded.h"
#include "ui/widgets/ImageButtons.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>

namespace sonabox {

TdShareVideos *dShareVideos = nullptr;

TdShareVideos::TdShareVideos(QWidget *parent, TPlayListManager *store)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint),
      store_(store) {
  InitArtwork();
  setObjectName("dShareVideos");
  setWindowTitle("Save Shared Videos");
  setFixedSize(391, 360);

  auto label = [this](const char *name, const char *text, QRect where) {
    auto *l = new QLabel(QString::fromUtf8(text), this);
    l->setObjectName(name);
    l->setGeometry(where);
    return l;
  };
  lbShareNumber =
      label("lbShareNumber", "x videos have been found in the share key.", {16, 16, 360, 18});
  QFont bold = lbShareNumber->font();
  bold.setBold(true);
  lbShareNumber->setFont(bold);
  lbShareNote = label("lbShareNote", "Note:", {16, 38, 360, 34});
  lbShareNote->setWordWrap(true);
  lbShareNote->setTextFormat(Qt::PlainText); // the sender's note, as typed
  lbShareNote->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  lbShareVideos = new QListWidget(this);
  lbShareVideos->setObjectName("lbShareVideos");
  lbShareVideos->setAccessibleName("Videos received");
  lbShareVideos->setGeometry(16, 78, 360, 110);
  lbShareVideos->setSelectionMode(QAbstractItemView::NoSelection);

  Label2 = label("Label2", "Add videos to play list: ", {16, 206, 263, 18});
  cbAddPlayList = new QComboBox(this);
  cbAddPlayList->setObjectName("cbAddPlayList");
  cbAddPlayList->setGeometry(16, 226, 263, 24);
  Label2->setBuddy(cbAddPlayList);

  lbOrNewPlayList = label("lbOrNewPlayList", "Or create new play list:", {16, 264, 263, 18});
  edPlayListName = new QLineEdit(this);
  edPlayListName->setObjectName("edPlayListName");
  edPlayListName->setGeometry(16, 284, 263, 24);
  lbOrNewPlayList->setBuddy(edPlayListName);

  iFindSave = new TImageButton(31, {48, 48}, "Save", this);
  iFindSave->setObjectName("iFindSave");
  iFindSave->move(310, 256);
  connect(cbAddPlayList, &QComboBox::currentTextChanged, this, &TdShareVideos::cbAddPlayListChange);
  edPlayListName->installEventFilter(this);
  connect(iFindSave, &TImageButton::clicked, this, &TdShareVideos::iFindSaveClick);
  ConnectControlImage(*iFindSave);

  dShareVideos = this;
}

TdShareVideos::~TdShareVideos() {
  if (dShareVideos == this) dShareVideos = nullptr;
}

void TdShareVideos::cbAddPlayListChange() { edPlayListName->clear(); }

// Only a choice that exists is cleared: clearing an empty one again would run the
// change handler, which empties the name being typed.
void TdShareVideos::edPlayListNameKeyPress() {
  if (cbAddPlayList->currentIndex() >= 0) cbAddPlayList->setCurrentIndex(-1);
}

bool TdShareVideos::eventFilter(QObject *watched, QEvent *event) {
  if (watched == edPlayListName && event->type() == QEvent::KeyPress &&
      !static_cast<QKeyEvent *>(event)->text().isEmpty())
    edPlayListNameKeyPress();
  return QDialog::eventFilter(watched, event);
}

void TdShareVideos::iFindSaveClick() {
  if (cbAddPlayList->currentIndex() >= 0) {
    accept();
    return;
  }
  const std::string name = TrimPlayListName(edPlayListName->text().toStdString());
  if (name.empty())
    ShowError(this, "Please enter a play list name");
  else if (store_ && store_->HasPlayList(name))
    ShowError(this, "A playlist named \"" + name + "\" already exists.");
  else
    accept();
}

void TdShareVideos::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.drawPixmap(rect(), QPixmap(":/images/SHAREVIDEOS_BACK.png"));
}

} // namespace sonabox
