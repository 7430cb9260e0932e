#include "ui/play/PlayListFiles.h"

#include "core/common/Background.h"
#include "core/common/Files.h"
#include "core/common/TextHelpers.h"
#include "core/playlists/PlayListExchange.h"
#include "core/playlists/PlayListManager.h"
#include "core/search/VideoLookup.h"
#include "core/web/ServiceHosts.h"
#include "core/web/WebStuff.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/Guarded.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace sonabox {

namespace {

const QString kFilter = QStringLiteral("Playlists (*.m3u *.m3u8 *.xspf);;All files (*)");

QToolButton *Button(const char *name, const char *text, QWidget *parent) {
  auto *button = new QToolButton(parent);
  button->setObjectName(name);
  button->setText(text);
  button->setAutoRaise(true);
  return button;
}

std::string Text(const QString &text) { return text.toStdString(); }

QByteArray ReadFile(const QString &path) {
  QFile in(path);
  if (!in.open(QIODevice::ReadOnly))
    throw std::runtime_error("Cannot read \"" + Text(path) + "\": " + Text(in.errorString()));
  // One byte past the limit is enough to have the file refused as too large.
  return in.read(static_cast<qint64>(kMaxPlayListFileBytes) + 1);
}

} // namespace

TPlayListFiles::TPlayListFiles(TPlayListManager &store, QComboBox &chosen, QWidget *parent)
    : QWidget(parent), store_(store), chosen_(chosen) {
  setObjectName("pPlayListFiles");
  btnExport = Button("btnExport", "Export...", this);
  btnExport->setToolTip("Write the playlist as an M3U or XSPF file");
  btnImport = Button("btnImport", "Import...", this);
  btnImport->setToolTip("Read an M3U or XSPF file into this or a new playlist");
  auto *row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  row->addWidget(btnExport);
  row->addWidget(btnImport);
  connect(btnExport, &QToolButton::clicked, this, Guarded(this, &TPlayListFiles::ExportClicked));
  connect(btnImport, &QToolButton::clicked, this, Guarded(this, &TPlayListFiles::ImportClicked));
}

void TPlayListFiles::RunEnableRules() {
  btnExport->setEnabled(store_.HasPlayList(Text(chosen_.currentText())));
}

std::string TPlayListFiles::ExportTo(const QString &path) {
  const std::string name = Text(chosen_.currentText());
  TDataTable table;
  if (!store_.OpenPlayList(table, name)) throw ENoPlayList(name);
  const bool xspf = path.endsWith(QStringLiteral(".xspf"), Qt::CaseInsensitive);
  const TExportedPlayList file =
      WritePlayListFile(PlayListVideos(table), xspf ? TPlayListFormat::Xspf : TPlayListFormat::M3u,
                        name, VideoWebHost());
  try {
    WriteFileAtomically(Text(path), file.Text);
  } catch (const std::system_error &error) {
    throw std::runtime_error("Cannot write \"" + Text(path) + "\": " + error.code().message());
  }
  std::string message = std::to_string(file.Written) + (file.Written == 1 ? " video" : " videos") +
                        " of \"" + name + "\" written to \"" + Text(path) + "\"";
  if (file.LeftOut > 0)
    message += "; " + std::to_string(file.LeftOut) + " left out: their identifiers make no address";
  return message;
}

std::string TPlayListFiles::ImportFrom(const QString &path, bool merge) {
  return Import(path, merge ? Text(chosen_.currentText()) : std::string());
}

std::string TPlayListFiles::NewPlayListName(const QString &path) {
  std::string stem = TrimPlayListName(Text(QFileInfo(path).completeBaseName()));
  if (stem.empty()) stem = "Imported";
  std::string name = stem;
  for (int n = 2; store_.HasPlayList(name); ++n)
    name = TrimPlayListName(Utf8Cut(stem, 60)) + " " + std::to_string(n);
  return name;
}

std::string TPlayListFiles::LookUp(TVideos &videos) {
  if (std::none_of(videos.begin(), videos.end(), NeedsLookup)) return {};
  // On a thread of its own, so that a slow service never freezes the window;
  // the import goes on once it has answered.
  auto asked = std::make_shared<TVideos>(videos);
  auto notLookedUp = std::make_shared<std::string>("the lookup failed");
  QEventLoop wait;
  RunInBackground(
      &wait, [asked, notLookedUp] { *notLookedUp = LookUpVideos(*asked, kExchangeDeadline); },
      [&wait] { wait.quit(); });
  wait.exec();
  if (notLookedUp->empty()) videos = std::move(*asked);
  return *notLookedUp;
}

std::string TPlayListFiles::Import(const QString &path, const std::string &into) {
  const QByteArray bytes = ReadFile(path);
  const bool merge = !into.empty();
  const std::string name = merge ? into : NewPlayListName(path);
  const std::string host = VideoWebHost();
  TPlayListFile file = ReadPlayListFile(std::string_view(bytes.constData(), bytes.size()), host);
  const std::string notLookedUp = LookUp(file.Videos);
  TImportReport report = ImportPlayList(store_, name, !merge, file, host);
  report.NotLookedUp = notLookedUp;
  emit PlayListsChanged(false); // the open playlist stays chosen
  if (merge && report.Added > 0) {
    TDataTable table;
    if (store_.OpenPlayList(table, name)) emit PlayListSaved(table.FileName());
  }
  return report.Summary(name, host);
}

void TPlayListFiles::OpenFile(const QString &path) {
  RunGuarded(this, [&] {
    const QString file = QFileInfo(path).fileName();
    const std::string host = VideoWebHost();
    const std::string refused =
        "\"" + Text(file) + "\" is not a playlist that Sonabox can import: ";
    try {
      const QByteArray bytes = ReadFile(path);
      if (ReadPlayListFile(std::string_view(bytes.constData(), bytes.size()), host).Videos.empty())
        throw EPlayListFileError("it holds no video of the service at " + host +
                                 " (an M3U or XSPF file exported by Sonabox does)");
    } catch (const EPlayListFileError &error) {
      ShowError(this, refused + error.what());
      return;
    }

    QDialog ask(this);
    ask.setObjectName("dImportInto");
    ask.setWindowTitle(ProgramTitle());
    auto *question = new QLabel("Import the videos of \"" + file + "\" into:", &ask);
    question->setTextFormat(Qt::PlainText);
    auto *into = new QComboBox(&ask);
    into->setObjectName("cbImportInto");
    into->setAccessibleName("Import into");
    into->addItem("A new playlist \"" + QString::fromStdString(NewPlayListName(path)) + "\"");
    for (const std::string &name : store_.PlayListNames())
      into->addItem(QString::fromStdString(name), QString::fromStdString(name));
    question->setBuddy(into);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &ask);
    buttons->button(QDialogButtonBox::Ok)->setText("Import");
    connect(buttons, &QDialogButtonBox::accepted, &ask, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
    auto *column = new QVBoxLayout(&ask);
    column->addWidget(question);
    column->addWidget(into);
    column->addWidget(buttons);
    if (ask.exec() != QDialog::Accepted) return;
    emit Told(Import(path, Text(into->currentData().toString())));
  });
}

void TPlayListFiles::ExportClicked() {
  QString format;
  QString path = QFileDialog::getSaveFileName(
      this, "Export Playlist", chosen_.currentText() + ".m3u8",
      QStringLiteral("M3U playlist (*.m3u8 *.m3u);;XSPF playlist (*.xspf)"), &format);
  if (path.isEmpty()) return;
  // A name typed without an extension gets the one of the format chosen.
  if (QFileInfo(path).suffix().isEmpty())
    path += format.startsWith(QStringLiteral("XSPF")) ? ".xspf" : ".m3u8";
  emit Told(ExportTo(path));
}

void TPlayListFiles::ImportClicked() {
  const QString path = QFileDialog::getOpenFileName(this, "Import Playlist", {}, kFilter);
  if (path.isEmpty()) return;
  bool merge = false;
  if (store_.HasPlayList(Text(chosen_.currentText()))) {
    QMessageBox ask(QMessageBox::Question, ProgramTitle(),
                    "Add the videos of \"" + QFileInfo(path).fileName() + "\" to \"" +
                        chosen_.currentText() + "\", or make a new playlist of them?",
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, this);
    ask.setTextFormat(Qt::PlainText);
    ask.button(QMessageBox::Yes)->setText("Add to \"" + NoMnemonic(chosen_.currentText()) + "\"");
    ask.button(QMessageBox::No)->setText("New playlist");
    const int answer = ask.exec();
    if (answer != QMessageBox::Yes && answer != QMessageBox::No) return;
    merge = answer == QMessageBox::Yes;
  }
  emit Told(ImportFrom(path, merge));
}

} // namespace sonabox
