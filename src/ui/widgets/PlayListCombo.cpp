#include "ui/widgets/PlayListCombo.h"

#include "core/playlists/PlayListManager.h"

#include <QComboBox>
#include <QSignalBlocker>

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

} // namespace sonabox
