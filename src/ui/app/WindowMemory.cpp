#include "ui/app/WindowMemory.h"

#include "core/settings/Settings.h"
#include "ui/app/MainWindow.h"
#include "ui/play/PlayPage.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QTabWidget>

#include <exception>
#include <optional>

namespace sonabox {

namespace {

const QSize kDesignedSize(769, 556);

QRect CentredIn(QSize size, const QRect &area) {
  size = size.boundedTo(area.size());
  QRect rect(QPoint(), size);
  rect.moveCenter(area.center());
  return rect;
}

std::string RectText(const QRect &r) {
  return QString("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toStdString();
}

std::optional<QRect> RectFromText(const std::string &text) {
  const QStringList parts = QString::fromStdString(text).split(',');
  if (parts.size() != 4) return std::nullopt;
  int values[4];
  for (int i = 0; i < 4; ++i) {
    bool ok = false;
    values[i] = parts[i].trimmed().toInt(&ok);
    if (!ok) return std::nullopt;
  }
  if (values[2] <= 0 || values[3] <= 0) return std::nullopt;
  return QRect(values[0], values[1], values[2], values[3]);
}

QList<QRect> ScreenAreas() {
  QList<QRect> areas;
  if (const QScreen *primary = QGuiApplication::primaryScreen())
    areas.append(primary->availableGeometry());
  for (const QScreen *screen : QGuiApplication::screens())
    if (screen != QGuiApplication::primaryScreen()) areas.append(screen->availableGeometry());
  return areas;
}

} // namespace

QRect FirstStartGeometry(const QRect &available) {
  const QSize wanted = (available.size() * 4 / 5).expandedTo(kDesignedSize);
  return CentredIn(wanted, available);
}

QRect OntoScreens(const QRect &remembered, const QList<QRect> &areas) {
  if (areas.isEmpty()) return remembered;
  const QPoint grip(remembered.center().x(), remembered.top());
  for (const QRect &area : areas)
    if (area.contains(grip) && remembered.width() <= area.width() &&
        remembered.height() <= area.height())
      return remembered;
  return CentredIn(remembered.size(), areas.first());
}

void RestoreWindow(TfMain &window) {
  const QList<QRect> areas = ScreenAreas();
  const std::optional<std::string> text = StoreReadString(store_key::kWindowGeometry);
  const std::optional<QRect> remembered = text ? RectFromText(*text) : std::nullopt;
  if (remembered)
    window.setGeometry(OntoScreens(*remembered, areas));
  else if (!areas.isEmpty())
    window.setGeometry(FirstStartGeometry(areas.first()));
  if (StoreReadInt(store_key::kWindowMaximized) == 1)
    window.setWindowState(window.windowState() | Qt::WindowMaximized);

  TPlayPage &play = *window.pPlay;
  if (const auto page = StoreReadString(store_key::kPageShown)) {
    for (int i = 0; i < window.pMain->count(); ++i)
      if (window.pMain->tabText(i).toStdString() == *page) window.pMain->setCurrentIndex(i);
  }

  // Chosen as the user chooses it, so the page opens it; a name no longer
  // listed is passed over.
  if (const auto name = StoreReadString(store_key::kPlayListOpen); name && !name->empty()) {
    const int index = play.cbPlayLists->findText(QString::fromStdString(*name),
                                                 Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) play.cbPlayLists->setCurrentIndex(index);
  }
}

void RememberWindow(TfMain &window) {
  TPlayPage &play = *window.pPlay;
  try {
    StoreWriteString(store_key::kWindowGeometry, RectText(window.normalGeometry()));
    StoreWriteString(store_key::kWindowMaximized, window.isMaximized() ? "1" : "0");
    StoreWriteString(store_key::kPageShown,
                     window.pMain->tabText(window.pMain->currentIndex()).toStdString());
    StoreWriteString(store_key::kPlayListOpen, play.cbPlayLists->currentIndex() >= 0
                                                   ? play.cbPlayLists->currentText().toStdString()
                                                   : std::string());
  } catch (const std::exception &error) {
    // The window closes all the same; the next start uses what was kept before.
    window.AddLogLine(error.what());
  }
}

} // namespace sonabox
