#include "ui/widgets/PlayListCombo.h"

#include "core/common/VideoRecord.h"
#include "core/playlists/PlayListManager.h"
#include "ui/widgets/Guarded.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QMessageBox>
#include <QSignalBlocker>

#include <algorithm>

namespace sonabox {

void FillPlayListCombo(QComboBox *box, TPlayListManager &store, const QString &remembered) {
  const QString before = box->currentText();
  {
    const QSignalBlocker quiet(box);
    box->clear();
    for (const std::string &name : store.PlayListNames())
      box->addItem(QString::fromStdString(name));
    box->setCurrentIndex(-1);
  }
  if (remembered.isEmpty()) return;
  const int index = box->findText(remembered, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (index < 0) return;
  if (remembered == before) {
    const QSignalBlocker quiet(box);
    box->setCurrentIndex(index);
  } else {
    box->setCurrentIndex(index);
  }
}

std::string SavedText(std::size_t added, std::size_t skipped, const std::string &name) {
  std::string text = VideosAddedText(added, name);
  if (skipped == 1)
    text += "; 1 already in it was skipped";
  else if (skipped > 1)
    text += "; " + std::to_string(skipped) + " already in it were skipped";
  return text;
}

std::optional<TVideos> AskAboutRepeats(QWidget *parent, TPlayListManager &store,
                                       const std::string &name, const TVideos &videos,
                                       const std::string &what, std::size_t &skipped) {
  skipped = 0;
  const std::vector<bool> already = VideosAlreadyIn(store, name, videos);
  const std::size_t repeats = std::count(already.begin(), already.end(), true);
  if (repeats == 0) return videos;
  std::string text;
  if (repeats == 1) {
    const auto first = std::find(already.begin(), already.end(), true) - already.begin();
    text = "\"" + TitleWithArtist(videos[first]) + "\" is already in \"" + name + "\".";
  } else if (repeats == videos.size()) {
    text = "All " + std::to_string(repeats) + " " + what + " are already in \"" + name + "\".";
  } else {
    text = std::to_string(repeats) + " of the " + std::to_string(videos.size()) + " " + what +
           " are already in \"" + name + "\".";
  }
  QMessageBox box(QMessageBox::Question, ProgramTitle(), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, parent);
  box.setTextFormat(Qt::PlainText);
  box.setInformativeText(repeats == 1 ? "Add it again?" : "Add them again?");
  box.button(QMessageBox::Yes)->setText("Add Again");
  box.button(QMessageBox::No)->setText(repeats == 1 ? "Skip It" : "Skip Them");
  box.setDefaultButton(QMessageBox::No);
  switch (box.exec()) {
  case QMessageBox::Yes: return videos;
  case QMessageBox::No: {
    TVideos fresh;
    for (std::size_t i = 0; i < videos.size(); ++i)
      if (!already[i]) fresh.push_back(videos[i]);
    skipped = repeats;
    return fresh;
  }
  default: return std::nullopt;
  }
}

} // namespace sonabox
