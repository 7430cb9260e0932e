#include "ui/widgets/ImageButtons.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

// The resource initialiser lives in a static library: name it from here so
// that the linker keeps it.
static void InitSonaboxResources() { Q_INIT_RESOURCE(sonabox); }

namespace sonabox {

void InitArtwork() {
  static const bool done = (InitSonaboxResources(), true);
  (void)done;
}

void SetControlImage(TImageButton &button, const std::string &suffix) {
  button.ShowPicture(QString::fromStdString(ControlImageBaseName(button.Tag()) + suffix));
}

void EnableControlImage(TImageButton &button, bool enabled) {
  if (button.isEnabled() == enabled) return;
  button.setEnabled(enabled);
  SetControlImage(button, enabled ? "" : "_disabled");
}

void ConnectControlImage(TImageButton &button) {
  TImageButton *b = &button;
  QObject::connect(b, &TImageButton::MouseDown, b, [b] { SetControlImage(*b, "_click"); });
  QObject::connect(b, &TImageButton::MouseUp, b, [b] { SetControlImage(*b, ""); });
  QObject::connect(b, &TImageButton::MouseEnter, b, [b] {
    if (b->isEnabled()) SetControlImage(*b, "_hover");
  });
  QObject::connect(b, &TImageButton::MouseLeave, b,
                   [b] { SetControlImage(*b, b->isEnabled() ? "" : "_disabled"); });
}

std::string ControlImageBaseName(int tag) {
  switch (tag) {
  case 1: return "prev";
  case 2: return "play";
  case 3: return "stop";
  case 4: return "next";
  case 11: return "find";
  case 12:
  case 31: return "save";
  default: return {};
  }
}

TImageButton::TImageButton(int tag, QSize size, const QString &accessibleName, QWidget *parent)
    : QAbstractButton(parent), tag_(tag), size_(size) {
  InitArtwork();
  setFixedSize(size);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setAccessibleName(accessibleName);
  ShowPicture(QString::fromStdString(ControlImageBaseName(tag)));
}

bool TImageButton::ShowPicture(const QString &name) {
  const QString upper = name.toUpper();
  QPixmap picture(QStringLiteral(":/images/") + upper + QStringLiteral(".png"));
  if (picture.isNull()) return false;
  picture_ = picture;
  pictureName_ = upper;
  update();
  return true;
}

void TImageButton::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  // Centred in the control, drawn at its natural size.
  const QPoint at((width() - picture_.width()) / 2, (height() - picture_.height()) / 2);
  painter.drawPixmap(at, picture_);
  if (hasFocus()) {
    QStyleOptionFocusRect option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
  }
}

void TImageButton::mousePressEvent(QMouseEvent *event) {
  emit MouseDown();
  QAbstractButton::mousePressEvent(event);
}

void TImageButton::mouseReleaseEvent(QMouseEvent *event) {
  emit MouseUp();
  QAbstractButton::mouseReleaseEvent(event);
}

void TImageButton::enterEvent(QEnterEvent *event) {
  emit MouseEnter();
  QAbstractButton::enterEvent(event);
}

void TImageButton::leaveEvent(QEvent *event) {
  emit MouseLeave();
  QAbstractButton::leaveEvent(event);
}

} // namespace sonabox
