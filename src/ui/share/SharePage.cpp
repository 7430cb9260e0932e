#include "ui/share/SharePage.h"

#include "core/common/Background.h"
#include "core/common/TextHelpers.h"
#include "core/playlists/PlayListManager.h"
#include "core/playlists/VideoRow.h"
#include "core/settings/Settings.h"
#include "core/sharing/Share.h"
#include "ui/share/ShareVideosDialog.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/DataTableModel.h"
#include "ui/widgets/Guarded.h"
#include "ui/widgets/PlayListCombo.h"
#include "ui/widgets/ShareGridModel.h"
#include "ui/widgets/ShellWidgets.h"
#include "ui/widgets/WebImage.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace sonabox {

namespace {

QString Caption() { return ProgramTitle(); }

QString Text(const std::string &bytes) { return QString::fromStdString(bytes); }

} // namespace

TSharePage::TSharePage(TPlayListManager &store, TSettings &settings, QWidget *parent)
    : QWidget(parent), store_(store), settings_(settings) {
  setObjectName("pShare");
  Paint(this, kPage);
  alShare = ActionList("alShare", this);
  aSelectAll = Action("aSelectAll", "Select All", alShare, 1);
  aSelectNone = Action("aSelectNone", "Select None", alShare, 0);
  aSharePrevious = Action("aSharePrevious", "Previous", alShare);
  aShareStep1 = Action("aShareStep1", "Next", alShare, 1);
  aShareStep2 = Action("aShareStep2", "Next", alShare, 2);
  aShareStep3 = Action("aShareStep3", "Next", alShare, 3);
  aShareStep4 = Action("aShareStep4", "Next", alShare, 4);
  aShareStep5 = Action("aShareStep5", "Restart", alShare, 5);
  cdsShare = std::make_unique<TDataTable>("cdsShare");
  cdsShare->SetFilterCaseInsensitive(true);

  CreatePage();
  CreateSteps();
  ConnectEvents();
  pcShareWizard->tabBar()->hide();
  pcShareWizard->setCurrentIndex(0);
}

TSharePage::~TSharePage() = default;

// ------------------------------------------------------------------ building

void TSharePage::CreatePage() {
  auto *page = new QVBoxLayout(this);
  page->setContentsMargins(0, 0, 0, 0);
  page->setSpacing(0);

  pShareTop = Panel("pShareTop", this);
  pShareTop->setFixedHeight(47);
  lbShareTitle =
      Label("lbShareTitle", "Share videos with your family and friends", pShareTop, true);
  auto *top = new QHBoxLayout(pShareTop);
  top->setContentsMargins(12, 0, 12, 0);
  top->addWidget(lbShareTitle);
  page->addWidget(pShareTop);

  pcShareWizard = new QTabWidget(this);
  pcShareWizard->setObjectName("pcShareWizard");
  pcShareWizard->setDocumentMode(true);
  tsShare1 = Panel("tsShare1", pcShareWizard);
  tsShare2 = Panel("tsShare2", pcShareWizard);
  tsShare3 = Panel("tsShare3", pcShareWizard);
  tsShare4 = Panel("tsShare4", pcShareWizard);
  tsShare5 = Panel("tsShare5", pcShareWizard);
  int step = 1;
  for (QWidget *w : {tsShare1, tsShare2, tsShare3, tsShare4, tsShare5}) {
    pcShareWizard->addTab(w, QStringLiteral("Step %1").arg(step++));
    Paint(w, kPage);
  }
  page->addWidget(pcShareWizard, 1);

  pShareBottom = Panel("pShareBottom", this);
  pShareBottom->setFixedHeight(38);
  auto *buttons = new QHBoxLayout(pShareBottom);
  buttons->setContentsMargins(12, 4, 12, 6);
  buttons->addStretch();
  btnSharePrevious = LinkedButton("btnSharePrevious", aSharePrevious, pShareBottom);
  btnShareNext = LinkedButton("btnShareNext", aShareStep1, pShareBottom);
  btnSharePrevious->setMinimumWidth(80);
  btnShareNext->setMinimumWidth(80);
  buttons->addWidget(btnSharePrevious);
  buttons->addWidget(btnShareNext);
  page->addWidget(pShareBottom);
}

void TSharePage::CreateSteps() {
  // Step 1: a playlist to send, or a share code to receive.
  {
    auto *form = new QVBoxLayout(tsShare1);
    form->setContentsMargins(16, 8, 16, 8);
    Label2 = Label("Label2", "Select a play list to send song from", tsShare1);
    cbSharePlayList = Combo("cbSharePlayList", tsShare1);
    cbSharePlayList->setFixedWidth(263);
    Label2->setBuddy(cbSharePlayList);
    Label7 = Label("Label7", "or", tsShare1, true);
    Label9 = Label("Label9", "Insert a share code", tsShare1);
    edShareCode = Edit("edShareCode", tsShare1);
    edShareCode->setFixedWidth(263);
    Label9->setBuddy(edShareCode);
    acpFetching = new TBusyIndicator(100, tsShare1);
    acpFetching->setObjectName("acpFetching");
    acpFetching->setAccessibleName("Looking up the share code");
    acpFetching->hide();
    form->addWidget(Label2);
    form->addWidget(cbSharePlayList);
    form->addSpacing(10);
    form->addWidget(Label7);
    form->addSpacing(10);
    form->addWidget(Label9);
    form->addWidget(edShareCode);
    form->addWidget(acpFetching, 0, Qt::AlignLeft);
    form->addStretch();
  }
  // Step 2: the title and the videos to send.
  {
    auto *grid = new QGridLayout(tsShare2);
    grid->setContentsMargins(12, 6, 12, 6);
    grid->setVerticalSpacing(3);
    lbSendShareTitle = Label("lbSendShareTitle", "Title to give these shared videos", tsShare2);
    cbShareTitle = Combo("cbShareTitle", tsShare2);
    cbShareTitle->setEditable(true);
    lbSendShareTitle->setBuddy(cbShareTitle);
    Label3 = Label("Label3", "Tick the videos to send", tsShare2);
    sgShareVideos = Grid("sgShareVideos", tsShare2);
    Label3->setBuddy(sgShareVideos);
    dsShare = new TDataTableModel(
        *cdsShare, {{VideoColumn::Title, "Title"}, {VideoColumn::Duration, "Duration"}}, this);
    dsShare->setObjectName("dsShare");
    sgShareVideosModel = new TShareGridModel(*dsShare, this);
    sgShareVideos->setModel(sgShareVideosModel);
    sgShareVideos->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
    sgShareVideos->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    sgShareVideos->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Fixed);
    sgShareVideos->setColumnWidth(0, 40);
    sgShareVideos->setColumnWidth(2, 64);
    wbShareImage = new TWebImage(tsShare2);
    wbShareImage->setObjectName("wbShareImage");
    wbShareImage->setFixedSize(148, 105);
    wbShareImage->setAccessibleName("Video picture");
    btnSelectAll = LinkedButton("btnSelectAll", aSelectAll, tsShare2);
    btnSelectNone = LinkedButton("btnSelectNone", aSelectNone, tsShare2);
    lbShareCount = Label("lbShareCount", "0 videos marked to share", tsShare2);
    lbShareCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnSelectAll);
    buttons->addWidget(btnSelectNone);
    buttons->addStretch();
    buttons->addWidget(lbShareCount);
    grid->addWidget(lbSendShareTitle, 0, 0);
    grid->addWidget(cbShareTitle, 1, 0);
    grid->addWidget(Label3, 2, 0);
    grid->addWidget(sgShareVideos, 3, 0);
    grid->addWidget(wbShareImage, 3, 1, Qt::AlignTop);
    grid->addLayout(buttons, 4, 0, 1, 2);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(0, 1);
  }
  // Step 3: who sends to whom.
  {
    auto *form = new QGridLayout(tsShare3);
    form->setContentsMargins(16, 10, 16, 10);
    form->setVerticalSpacing(6);
    struct Row {
      QLabel *&label;
      QLineEdit *&edit;
      const char *labelName, *caption, *editName;
    };
    const Row rows[] = {
        {lbYourName, edYourName, "lbYourName", "Your name:", "edYourName"},
        {lbYourEmail, edYourEmail, "lbYourEmail", "Your e-mail:", "edYourEmail"},
        {lbRecipientName, edRecipientName, "lbRecipientName", "Recipient name:", "edRecipientName"},
        {Label5, edRecipientEmail, "Label5", "Recipient e-mail:", "edRecipientEmail"},
        {Label8, edEmailNote, "Label8", "Small note:", "edEmailNote"},
    };
    int r = 0;
    for (const Row &row : rows) {
      row.label = Label(row.labelName, row.caption, tsShare3);
      row.edit = Edit(row.editName, tsShare3);
      row.edit->setMinimumWidth(340); // room for an e-mail address
      row.edit->setMaximumWidth(480);
      row.label->setBuddy(row.edit);
      form->addWidget(row.label, r, 0);
      form->addWidget(row.edit, r, 1);
      ++r;
    }
    edEmailNote->setMaxLength(150);
    form->setRowStretch(r, 1);
    form->setColumnStretch(2, 1);
  }
  // Step 4: sending.
  {
    auto *form = new QVBoxLayout(tsShare4);
    form->setContentsMargins(16, 16, 16, 16);
    Label6 = Label("Label6", "Please wait and we send off these items.", tsShare4);
    acpSharing = new TBusyIndicator(100, tsShare4);
    acpSharing->setObjectName("acpSharing");
    acpSharing->setAccessibleName("Sending");
    form->addWidget(Label6);
    form->addWidget(acpSharing, 0, Qt::AlignLeft);
    form->addStretch();
  }
  // Step 5: the share code.
  {
    auto *form = new QVBoxLayout(tsShare5);
    form->setContentsMargins(16, 10, 16, 10);
    lbShareConfirm =
        Label("lbShareConfirm", "Congrats, the songs have been sent off to ", tsShare5, true);
    lbShareConfirm->setTextFormat(Qt::PlainText); // it ends with the recipient's name as typed
    lbMoreShare =
        Label("lbMoreShare",
              "Want to share these with someone else? It's easy! Just give them the share "
              "code below to use:",
              tsShare5);
    lbMoreShare->setWordWrap(true);
    Label10 = Label("Label10", "Share code:", tsShare5);
    edNewShareCode = Edit("edNewShareCode", tsShare5);
    edNewShareCode->setReadOnly(true);
    edNewShareCode->setFixedWidth(263);
    Label10->setBuddy(edNewShareCode);
    form->addWidget(lbShareConfirm);
    form->addSpacing(6);
    form->addWidget(lbMoreShare);
    form->addSpacing(6);
    form->addWidget(Label10);
    form->addWidget(edNewShareCode);
    form->addStretch();
  }
}

void TSharePage::ConnectEvents() {
  connect(aShareStep1, &QAction::triggered, this, Guarded(this, &TSharePage::aShareStep1Execute));
  // Enter in the share code fetches it, as Next does.
  connect(edShareCode, &QLineEdit::returnPressed, this, [this] {
    aShareStep1Update();
    if (aShareStep1->isEnabled()) aShareStep1->trigger();
  });
  connect(aShareStep2, &QAction::triggered, this, Guarded(this, &TSharePage::aShareStep2Execute));
  connect(aShareStep3, &QAction::triggered, this, Guarded(this, &TSharePage::aShareStep3Execute));
  connect(aShareStep4, &QAction::triggered, this, Guarded(this, &TSharePage::aShareStep4Execute));
  connect(aShareStep5, &QAction::triggered, this, Guarded(this, &TSharePage::aShareStep5Execute));
  connect(aSharePrevious, &QAction::triggered, this,
          Guarded(this, &TSharePage::aSharePreviousExecute));
  connect(aSelectAll, &QAction::triggered, this, [this] { aShareSelection(aSelectAll); });
  connect(aSelectNone, &QAction::triggered, this, [this] { aShareSelection(aSelectNone); });
  connect(sgShareVideos, &QTableView::clicked, this, [this](const QModelIndex &cell) {
    sgShareVideosClickCell(cell.column(), cell.row() + 1); // row 0 is the header
  });
}

void TSharePage::FillPlayLists(const QString &remembered) {
  FillPlayListCombo(cbSharePlayList, store_, remembered);
}

// ------------------------------------------------------------- enable rules

void TSharePage::RunEnableRules() {
  aShareStep1Update();
  aSharePreviousUpdate();
  aShareStep4Update();
  // While an exchange runs, nothing may start another one or leave the step.
  aShareStep3->setEnabled(!busy_);
}

void TSharePage::aShareStep1Update() {
  aShareStep1->setEnabled(!busy_ &&
                          (cbSharePlayList->currentIndex() >= 0 || !edShareCode->text().isEmpty()));
}

void TSharePage::aSharePreviousUpdate() {
  const QAction *next = btnShareNext->defaultAction();
  aSharePrevious->setEnabled(!busy_ && pcShareWizard->currentIndex() > 0 && next != aShareStep4 &&
                             next != aShareStep5);
}

void TSharePage::aShareStep4Update() { aShareStep4->setEnabled(false); }

// ------------------------------------------------------------------ step 1

void TSharePage::aShareStep1Execute() {
  if (busy_) return;
  if (!edShareCode->text().isEmpty()) {
    ReceiveShare();
    return;
  }
  const std::string name = cbSharePlayList->currentText().toStdString();
  cdsShare->Close();
  store_.OpenPlayList(*cdsShare, name);
  cbShareTitle->setEditText(Text(name));
  sgShareVideosModel->AddCheckBoxes();
  UpdateShareCount(); // no row is ticked now, whatever the last playlist had
  edYourEmail->setText(Text(settings_.ShareEmail()));
  edYourName->setText(Text(settings_.ShareName()));
  btnShareNext->setDefaultAction(aShareStep2);
  pcShareWizard->setCurrentIndex(pcShareWizard->currentIndex() + 1);
}

void TSharePage::ReceiveShare() {
  auto share = std::make_shared<TShare>();
  const std::string code = edShareCode->text().toStdString();
  busy_ = true;
  aShareStep1->setEnabled(false);
  edShareCode->setReadOnly(true);
  acpFetching->show();
  acpFetching->Start();
  exchange_ = RunInBackground(
      this, [share, code] { share->FetchShare(code); },
      [this, share] {
        busy_ = false;
        edShareCode->setReadOnly(false);
        acpFetching->Stop();
        acpFetching->hide();
        RunGuarded(this, [&] { FetchFinished(*share); });
      });
}

void TSharePage::FetchFinished(const TShare &share) {
  if (share.VideoCount() == 0) {
    // A code is called invalid only when the service answered: without an
    // answer the code may well be fine.
    const bool answered =
        share.Outcome() == TWebOutcome::Answered || share.Outcome() == TWebOutcome::Refused;
    QMessageBox::critical(this, Caption(),
                          answered ? "You have entered an invalid share code... please try again"
                                   : "The share service could not be reached, so the share code "
                                     "could not be looked up. Please check your connection and "
                                     "try again.");
    return;
  }
  delete dShareVideos;
  // Released whatever happens below.
  std::unique_ptr<TdShareVideos> dialog(new TdShareVideos(this, &store_));
  dialog->lbShareNumber->setText(QString::number(share.VideoCount()) +
                                 " videos have been found in the share key.");
  dialog->edPlayListName->setText(Text(share.ShareTitle()));
  dialog->lbShareNote->setText("Note: " + Text(share.ShareNote()));
  for (const TVideo &video : share.SharedVideos())
    dialog->lbShareVideos->addItem(Text(video.Title));
  FillPlayListCombo(dialog->cbAddPlayList, store_);
  if (dialog->exec() != QDialog::Accepted) return;
  SaveSharedVideos(share.SharedVideos(), dialog->cbAddPlayList->currentText().toStdString(),
                   dialog->edPlayListName->text().toStdString());
}

void TSharePage::SaveSharedVideos(const TVideos &videos, const std::string &existing,
                                  const std::string &newName) {
  const bool create = existing.empty();
  const std::string name = create ? TrimPlayListName(newName) : existing;
  std::size_t skipped = 0;
  TVideos saved = videos;
  if (!create) {
    std::optional<TVideos> kept =
        AskAboutRepeats(this, store_, name, videos, "shared videos", skipped);
    if (!kept) return;
    saved = std::move(*kept);
  }
  const std::string fileName = AddVideosToPlayList(store_, name, create, saved);
  edShareCode->clear();
  emit PlayListsChanged(true);
  // The playlist open on the Play page is read again: left as it was, its
  // next save (a deleted video) would write the received videos away.
  emit PlayListSaved(fileName);
  emit ShowPlayPage();
  emit Told(SavedText(saved.size(), skipped, name));
}

// ------------------------------------------------------------------ step 2

void TSharePage::aShareStep2Execute() {
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

void TSharePage::sgShareVideosClickCell(int column, int row) {
  if (row <= 0) return;
  sgShareVideosModel->SetTicked(row - 1, !IsCellTicked(sgShareVideos, 0, row));
  UpdateShareCount();
  if (column > 0) {
    try {
      wbShareImage->WebPicture().LoadFromURL(cdsShare->DisplayText(row, VideoColumn::Thumbnail));
    } catch (const std::exception &) {
      // The picture is only a help for choosing; what it shows after a
      // failed load is the picture control's own rule.
    }
  }
}

void TSharePage::aShareSelection(const QAction *sender) {
  sgShareVideosModel->SetAllTicked(sender->data().toInt() == 1); // one change of the grid
  UpdateShareCount();
}

void TSharePage::UpdateShareCount() {
  int ticked = 0;
  for (int row = 1; row <= sgShareVideos->model()->rowCount(); ++row)
    if (IsCellTicked(sgShareVideos, 0, row)) ++ticked;
  lbShareCount->setText(QString::number(ticked) + " videos marked to share");
}

bool TSharePage::IsCellTicked(const QTableView *grid, int column, int row) const {
  const QAbstractItemModel *model = grid->model();
  if (row <= 0) return false;
  return model->data(model->index(row - 1, column), Qt::CheckStateRole) == Qt::Checked;
}

// ---------------------------------------------------------- steps 3 to 5

void TSharePage::aShareStep3Execute() {
  if (busy_) return;
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
  const struct {
    QLineEdit *field;
    const char *whose;
  } addresses[] = {{edYourEmail, "your"}, {edRecipientEmail, "their"}};
  for (const auto &a : addresses) {
    const std::string email = TrimControl(a.field->text().toStdString());
    if (!IsEmailAddress(email)) {
      QMessageBox box(QMessageBox::Critical, Caption(),
                      "\"" + a.field->text() + "\" is not an e-mail address. Please check " +
                          a.whose + " email.",
                      QMessageBox::Ok, this);
      box.setTextFormat(Qt::PlainText);
      box.exec();
      a.field->setFocus();
      return;
    }
    a.field->setText(Text(email));
  }
  pcShareWizard->setCurrentIndex(pcShareWizard->currentIndex() + 1);
  aShareStep4Execute(); // btnShareNext keeps aShareStep3 meanwhile
}

void TSharePage::aShareStep4Execute() {
  auto share = std::make_shared<TShare>();
  share->SetReceipt(""); // the service asks for the field; this program has no receipt to give
  share->SetFrom(edYourName->text().toStdString(), edYourEmail->text().toStdString());
  share->SetNote(edEmailNote->text().toStdString());
  share->SetTitle(cbShareTitle->currentText().toStdString());
  share->SetTo(edRecipientName->text().toStdString(), edRecipientEmail->text().toStdString());
  cdsShare->First();
  for (int row = 1; row <= sgShareVideos->model()->rowCount(); ++row) {
    if (IsCellTicked(sgShareVideos, 0, row)) share->AddEntry(ToShareEntry(VideoFromRow(*cdsShare)));
    cdsShare->Next();
  }
  busy_ = true;
  aShareStep3->setEnabled(false);
  aSharePrevious->setEnabled(false);
  acpSharing->Start();
  auto code = std::make_shared<std::string>();
  exchange_ = RunInBackground(
      this, [share, code] { *code = share->SendShare(); },
      [this, code] {
        busy_ = false;
        acpSharing->Stop();
        RunGuarded(this, [&] {
          if (code->empty()) {
            // Nothing was sent: say so and stay with the details, ready to try again.
            pcShareWizard->setCurrentWidget(tsShare3);
            QMessageBox::critical(
                this, Caption(),
                "The videos could not be sent. Please check your connection and try again.");
            return;
          }
          edNewShareCode->setText(Text(*code));
          lbShareConfirm->setText("Congrats, the songs have been sent off to " +
                                  edRecipientName->text());
          btnShareNext->setDefaultAction(aShareStep5);
          pcShareWizard->setCurrentIndex(pcShareWizard->currentIndex() + 1);
          // Last, so that a store that cannot be written never hides the new code.
          settings_.SaveShareDetails(edYourName->text().toStdString(),
                                     edYourEmail->text().toStdString());
        });
      });
}

void TSharePage::aShareStep5Execute() {
  edRecipientName->clear();
  edRecipientEmail->clear();
  edEmailNote->clear();
  cdsShare->Close();
  btnShareNext->setDefaultAction(aShareStep1);
  pcShareWizard->setCurrentIndex(0);
}

void TSharePage::aSharePreviousExecute() {
  QAction *const steps[] = {aShareStep1, aShareStep2, aShareStep3, aShareStep4, aShareStep5};
  const int tag = btnShareNext->defaultAction()->data().toInt();
  if (tag >= 2 && tag <= 5) btnShareNext->setDefaultAction(steps[tag - 2]);
  pcShareWizard->setCurrentIndex(pcShareWizard->currentIndex() - 1);
}

} // namespace sonabox
