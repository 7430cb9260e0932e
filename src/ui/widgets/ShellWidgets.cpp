#include "ui/widgets/ShellWidgets.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLinearGradient>
#include <QPainter>
#include <QStyleOptionTab>

#include <cmath>

namespace sonabox {

namespace {
const QColor kTabText(236, 232, 250);
const QColor kTabSelectedTop(255, 186, 70);
const QColor kTabSelectedBottom(214, 104, 20);
const QColor kTabHover(255, 255, 255, 28);
const QColor kTabLine(255, 255, 255, 18);
const int kDots = 12;
} // namespace

TPictureTabBar::TPictureTabBar(QSize tabSize, QWidget *parent)
    : QTabBar(parent), tabSize_(tabSize) {
  setExpanding(false);
  setMovable(false);
  setDrawBase(false);
  setUsesScrollButtons(false);
  setIconSize(QSize(56, 56));
  setAttribute(Qt::WA_Hover);
  setCursor(Qt::PointingHandCursor);
}

QSize TPictureTabBar::tabSizeHint(int) const { return tabSize_; }

void TPictureTabBar::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPoint mouse = mapFromGlobal(QCursor::pos());
  for (int i = 0; i < count(); ++i) {
    const QRect r = tabRect(i);
    const bool selected = i == currentIndex();
    if (selected) {
      QLinearGradient fill(r.topLeft(), r.bottomLeft());
      fill.setColorAt(0, kTabSelectedTop);
      fill.setColorAt(1, kTabSelectedBottom);
      painter.setPen(Qt::NoPen);
      painter.setBrush(fill);
      painter.drawRoundedRect(r.adjusted(4, 3, -4, -3), 10, 10);
    } else {
      if (underMouse() && r.contains(mouse)) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(kTabHover);
        painter.drawRoundedRect(r.adjusted(4, 3, -4, -3), 10, 10);
      }
      painter.setPen(kTabLine);
      painter.drawLine(r.left() + 14, r.bottom(), r.right() - 14, r.bottom());
    }
    const QSize icon = iconSize();
    const QPixmap picture = tabIcon(i).pixmap(icon);
    painter.drawPixmap(r.left() + (r.width() - icon.width()) / 2, r.top() + 12, picture);
    QFont f = font();
    f.setBold(true);
    painter.setFont(f);
    painter.setPen(selected ? QColor(30, 20, 10) : kTabText);
    const QRect text(r.left(), r.top() + 12 + icon.height() + 2, r.width(),
                     r.bottom() - r.top() - icon.height() - 14);
    painter.drawText(text, Qt::AlignHCenter | Qt::AlignTop, tabText(i));
    if (selected && hasFocus()) {
      QStyleOptionFocusRect option;
      option.initFrom(this);
      option.rect = r.adjusted(7, 6, -7, -6);
      style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
  }
}

TPageControl::TPageControl(QSize tabSize, QWidget *parent) : QTabWidget(parent) {
  setTabBar(new TPictureTabBar(tabSize, this));
}

namespace {

class TLinkAccessible : public QAccessibleWidget {
public:
  explicit TLinkAccessible(TLinkLabel *label) : QAccessibleWidget(label, QAccessible::Link) {}

  QStringList actionNames() const override { return {pressAction()}; }
  void doAction(const QString &name) override {
    auto *label = static_cast<TLinkLabel *>(widget());
    if (name == pressAction() && label->isEnabled()) emit label->linkActivated(label->Address());
  }
  QStringList keyBindingsForAction(const QString &) const override { return {}; }
};

QAccessibleInterface *LinkAccessibleFactory(const QString &className, QObject *object) {
  if (className == QLatin1String(TLinkLabel::staticMetaObject.className()) &&
      object->isWidgetType())
    return new TLinkAccessible(static_cast<TLinkLabel *>(object));
  return nullptr;
}

} // namespace

TLinkLabel::TLinkLabel(const QString &caption, const QString &address, const QColor &colour,
                       QWidget *parent)
    : QLabel(parent), address_(address) {
  static const bool installed = (QAccessible::installFactory(LinkAccessibleFactory), true);
  (void)installed;
  setText(QStringLiteral("<a href=\"%1\" style=\"color:%2; text-decoration:none\">%3</a>")
              .arg(address.toHtmlEscaped(), colour.name(), caption.toHtmlEscaped()));
  setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  setCursor(Qt::PointingHandCursor);
  setAccessibleName(caption);
}

TBusyIndicator::TBusyIndicator(int stepIntervalMs, QWidget *parent) : QWidget(parent) {
  timer_.setInterval(stepIntervalMs);
  connect(&timer_, &QTimer::timeout, this, [this] {
    step_ = (step_ + 1) % kDots;
    update();
  });
}

void TBusyIndicator::Start() { timer_.start(); }

void TBusyIndicator::Stop() {
  timer_.stop();
  update();
}

void TBusyIndicator::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const double side = std::min(width(), height());
  const QPointF centre(width() / 2.0, height() / 2.0);
  const double ring = side * 0.36, dot = side * 0.07;
  painter.setPen(Qt::NoPen);
  for (int k = 0; k < kDots; ++k) {
    const double angle = 2 * M_PI * k / kDots - M_PI / 2;
    const int age = (step_ - k + kDots) % kDots;
    QColor c = kTabSelectedBottom;
    c.setAlpha(Running() ? 255 - age * 200 / kDots : 70);
    painter.setBrush(c);
    painter.drawEllipse(centre + QPointF(std::cos(angle) * ring, std::sin(angle) * ring), dot, dot);
  }
}

} // namespace sonabox
