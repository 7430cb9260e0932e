#pragma once
// Small controls of the windows beyond Qt's own: the picture tabs of the main
// page control and the circular busy indicator.
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

namespace sonabox {

// Tabs of a fixed size with the tab's picture above its caption, drawn the
// same way whatever side of the page control they stand on. Assistive
// technology sees ordinary page tabs named by their captions.
class TPictureTabBar : public QTabBar {
  Q_OBJECT
public:
  TPictureTabBar(QSize tabSize, QWidget *parent = nullptr);

protected:
  QSize tabSizeHint(int index) const override;
  QSize minimumTabSizeHint(int index) const override { return tabSizeHint(index); }
  void paintEvent(QPaintEvent *event) override;

private:
  QSize tabSize_;
};

// A page control whose tabs are picture tabs of a fixed size.
class TPageControl : public QTabWidget {
  Q_OBJECT
public:
  TPageControl(QSize tabSize, QWidget *parent = nullptr);
};

// A label that reads as a link: hand cursor, one link that emits
// linkActivated(address) when clicked or activated from the keyboard. To
// assistive technology it is a link named by its accessible name, with a
// press action.
class TLinkLabel : public QLabel {
  Q_OBJECT
public:
  TLinkLabel(const QString &caption, const QString &address, const QColor &colour,
             QWidget *parent = nullptr);
  const QString &Address() const { return address_; }

private:
  QString address_;
};

// A ring of dots, one of which lights up per step while running.
class TBusyIndicator : public QWidget {
  Q_OBJECT
public:
  explicit TBusyIndicator(int stepIntervalMs, QWidget *parent = nullptr);

  void Start();
  void Stop();
  bool Running() const { return timer_.isActive(); }

  QSize sizeHint() const override { return {48, 48}; }

protected:
  void paintEvent(QPaintEvent *event) override;

private:
  QTimer timer_;
  int step_ = 0;
};

} // namespace sonabox
