// The main window's share wizard on the Share page. From its first step one
// road sends ticked videos of a playlist to the share service, which answers a
// share code; the other fetches the videos behind a share code and saves them
// into a playlist chosen in the save-shared-videos dialog.
#include "ui/app/MainWindow.h"
#include "core/settings/Settings.h"
#include "ui/widgets/ShareGridModel.h"
#include "core/common/TextHelpers.h"
#include "core/playback/VideoDetails.h"
#include "core/playlists/DataTable.h"
#include "core/playlists/PlayListManager.h"
#include "ui/widgets/WebImage.h"
#include "core/sharing/Share.h"
#include "ui/share/ShareVideosDialog.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>

#include <exception>
#include <memory>

namespace sonabox {

namespace {

QString Caption() { return QGuiApplication::applicationDisplayName(); }

QString Text(const std::string &bytes) { return QString::fromStdString(bytes); }

} // namespace

void TfMain::ConnectShareWizard() {
  connect(aShareStep1, &QAction::triggered, this, Guarded(&TfMain::aShareStep1Execute));
  connect(aShareStep2, &QAction::triggered, this, Guarded(&TfMain::aShareStep2Execute));
  connect(aShareStep3, &QAction::triggered, this, Guarded(&TfMain::aShareStep3Execute));
  connect(aShareStep4, &QAction::triggered, this, Guarded(&TfMain::aShareStep4Execute));
  connect(aShareStep5, &QAction::triggered, this, Guarded(&TfMain::aShareStep5Execute));
  connect(aSharePrevious, &QAction::triggered, this, Guarded(&TfMain::aSharePreviousExecute));
  connect(aSelectAll, &QAction::triggered, this, [this] { aShareSelection(aSelectAll); });
  connect(aSelectNone, &QAction::triggered, this, [this] { aShareSelection(aSelectNone); });
  connect(sgShareVideos, &QTableView::clicked, this, [this](const QModelIndex &cell) {
    sgShareVideosClickCell(cell.column(), cell.row() + 1); // row 0 is the header
  });
}

// ------------------------------------------------------------------ step 1

void TfMain::aShareStep1Execute() {
  if (!edShareCode->text().isEmpty()) {
    ReceiveShare();
    return;
  }
  const std::string name = cbSharePlayList->currentText().toStdString();
  cdsShare->Close();
  PlayListManager->OpenPlayList(*cdsShare, name);
  cbShareTitle->setEditText(Text(name));
  sgShareVideosModel->AddCheckBoxes();
  UpdateShareCount(); // no row is ticked now, whatever the last playlist had
  edYourEmail->setText(Text(Settings->ShareEmail()));
  edYourName->setText(Text(Settings->ShareName()));
  btnShareNext->setDefaultAction(aShareStep2);
  pcShareWizard->setCurrentIndex(pcShareWizard->currentIndex() + 1);
}

void TfMain::ReceiveShare() {
  Share = std::make_unique<TShare>();
  if (!Share->FetchShare(edShareCode->text().toStdString())) {
    Share.reset();
    QMessageBox::critical(this, Caption(),
                          "You have entered an invalid share code... please try again");
    return;
  }
  delete dShareVideos;
  // Released whatever happens below, together with the share client.
  std::unique_ptr<TdShareVideos> dialog(new TdShareVideos(this));
  const std::unique_ptr<TShare> share = std::move(Share);
  dialog->lbShareNumber->setText(QString::number(share->VideoCount()) +
                                 " videos have been found in the share key.");
  dialog->edPlayListName->setText(Text(share->ShareTitle()));
  dialog->lbShareNote->setText("Note: " + Text(share->ShareNote()));
  FillPlayListCombo(dialog->cbAddPlayList, false);
  if (dialog->exec() != QDialog::Accepted) return;
  SaveSharedVideos(share->SharedVideos(), dialog->cbAddPlayList->currentText().toStdString(),
                   dialog->edPlayListName->text().toStdString());
}

void TfMain::SaveSharedVideos(const TVideos &videos, const std::string &existing,
                              const std::string &newName) {
  TDataTable playList;
  std::string name = existing;
  if (!name.empty()) {
    PlayListManager->OpenPlayList(playList, name);
  } else {
    name = newName;
    PlayListManager->CreatePlayList(playList, name);
  }
  for (const TVideo &video : videos) {
    playList.Insert();
    StoreVideoInRow(video, playList);
    playList.Post();
  }
  playList.SaveToFile();
  edShareCode->clear();
  RefreshPlayListCombos(true);
  // The playlist open on the Play page is read again: left as it was, its
  // next save (a deleted video) would write the received videos away.
  if (cdsPlayList->Active() && cdsPlayList->FileName() == playList.FileName()) {
    cdsPlayList->Close();
    cdsPlayList->LoadFromFile(playList.FileName());
  }
  QMessageBox::information(this, Caption(), Text("New files have been added to \"" + name + "\""));
  pMain->setCurrentWidget(pPlay);
}

// ------------------------------------------------------------------ step 2

void TfMain::aShareStep2Execute() {
  const QString title = Text(TrimControl(cbShareTitle->currentText().toStdString()));
  cbShareTitle->setEditText(title);
  if (title.toUcs4().size() < 5) {
    QMessageBox::critical(this, Caption(),
                          "You should enter a more meaningful title for these videos...");
    return;
  }
  if (sgShareVideosModel->TickedCount() == 0) {
    QMessageBox::critical(this, Caption(), "You need to select one or more videos to share...");
    return;
  }
  btnShareNext->setDefaultAction(aShareStep3);
  pcShareWizard->setCurrentIndex(pcShareWizard->currentIndex() + 1);
}

void TfMain::sgShareVideosClickCell(int column, int row) {
  if (row <= 0) return;
  sgShareVideosModel->SetTicked(row - 1, !IsCellTicked(sgShareVideos, 0, row));
  UpdateShareCount();
  if (column > 0) {
    try {
      wbShareImage->WebPicture().LoadFromURL(cdsShare->DisplayText(row, "Thumbnail"));
    } catch (const std::exception &) {
      // The picture is only a help for choosing; what it shows after a
      // failed load is the picture control's own rule.
    }
  }
}

void TfMain::aShareSelection(const QAction *sender) {
  sgShareVideosModel->SetAllTicked(sender->data().toInt() == 1); // one change of the grid
  UpdateShareCount();
}

void TfMain::UpdateShareCount() {
  int ticked = 0;
  for (int row = 1; row <= sgShareVideos->model()->rowCount(); ++row)
    if (IsCellTicked(sgShareVideos, 0, row)) ++ticked;
  lbShareCount->setText(QString::number(ticked) + " videos marked to share");
}

bool TfMain::IsCellTicked(const QTableView *grid, int column, int row) const {
  const QAbstractItemModel *model = grid->model();
  if (row <= 0) return false;
  return model->data(model->index(row - 1, column), Qt::CheckStateRole) == Qt::Checked;
}

// ---------------------------------------------------------- steps 3 to 5

void TfMain::aShareStep3Execute() {
  const struct {
    QLineEdit *field;
    const char *message;
  } required[] = {
      {edYourName, "You need to enter your name"},
      {edYourEmail, "You need to enter your email"},
      {edRecipientName, "You need to enter their name"},
      {edRecipientEmail, "You need to enter their email"},
  };
  for (const auto &r : required) {
    if (r.field->text().isEmpty()) {
      QMessageBox::critical(this, Caption(), r.message);
      return;
    }
  }
  pcShareWizard->setCurrentIndex(pcShareWizard->currentIndex() + 1);
  aShareStep4Execute(); // btnShareNext keeps aShareStep3 meanwhile
}

void TfMain::aShareStep4Execute() {
  QCoreApplication::processEvents(); // the waiting page shows before the window blocks
  Share = std::make_unique<TShare>();
  Share->SetReceipt(""); // the service asks for the field; this program has no receipt to give
  Share->SetFrom(edYourName->text().toStdString(), edYourEmail->text().toStdString());
  Share->SetNote(edEmailNote->text().toStdString());
  Share->SetTitle(cbShareTitle->currentText().toStdString());
  Share->SetTo(edRecipientName->text().toStdString(), edRecipientEmail->text().toStdString());
  {
    TVideoDetails details; // serves the whole walk
    cdsShare->First();
    for (int row = 1; row <= sgShareVideos->model()->rowCount(); ++row) {
      if (IsCellTicked(sgShareVideos, 0, row))
        Share->AddEntry(details.ToShareEntry(cdsShare.get()));
      cdsShare->Next();
    }
  }
  const std::string code = Share->SendShare();
  if (code.empty()) {
    // Nothing was sent: say so and stay with the details, ready to try again.
    pcShareWizard->setCurrentWidget(tsShare3);
    QMessageBox::critical(
        this, Caption(),
        "The videos could not be sent. Please check your connection and try again.");
    return;
  }
  edNewShareCode->setText(Text(code));
  lbShareConfirm->setText("Congrats, the songs have been sent off to " + edRecipientName->text());
  btnShareNext->setDefaultAction(aShareStep5);
  pcShareWizard->setCurrentIndex(pcShareWizard->currentIndex() + 1);
  // Last, so that a store that cannot be written never hides the new code.
  Settings->SaveShareDetails(edYourName->text().toStdString(), edYourEmail->text().toStdString());
}

void TfMain::aShareStep5Execute() {
  edRecipientName->clear();
  edRecipientEmail->clear();
  edEmailNote->clear();
  cdsShare->Close();
  btnShareNext->setDefaultAction(aShareStep1);
  pcShareWizard->setCurrentIndex(0);
}

void TfMain::aSharePreviousExecute() {
  QAction *const steps[] = {aShareStep1, aShareStep2, aShareStep3, aShareStep4, aShareStep5};
  const int tag = btnShareNext->defaultAction()->data().toInt();
  if (tag >= 2 && tag <= 5) btnShareNext->setDefaultAction(steps[tag - 2]);
  pcShareWizard->setCurrentIndex(pcShareWizard->currentIndex() - 1);
}

} // namespace sonabox
