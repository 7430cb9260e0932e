#include "ui/find/ResultPanels.h"

#include "ui/widgets/WebImage.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>

namespace sonabox {

namespace {

const QColor kPanelColour(252, 253, 254);
const QString kEllipsis = QStringLiteral("\u2026");

bool IsClick(const QWidget *w, const QMouseEvent *event) {
  return event->button() == Qt::LeftButton && w->rect().contains(event->position().toPoint());
}

QLabel *FittedLabel(const QString &text, int left, int top, QWidget *parent) {
  auto *label = new QLabel(text, parent);
  label->move(left, top);
  label->adjustSize();
  return label;
}

} // namespace

// ------------------------------------------------------------ click controls

TClickPanel::TClickPanel(QWidget *parent) : QWidget(parent) {}

void TClickPanel::mousePressEvent(QMouseEvent *event) { event->accept(); }

// Clicks on the labels and the thumbnail reach the panel too; only clicks on
// its background count.
void TClickPanel::mouseReleaseEvent(QMouseEvent *event) {
  if (IsClick(this, event) && !childAt(event->position().toPoint())) emit Clicked(Tag);
}

void TClickPanel::resizeEvent(QResizeEvent *event) {
  if (AnchoredRight && event->oldSize().width() >= 0) {
    AnchoredRight->move(AnchoredRight->x() + event->size().width() - event->oldSize().width(),
                        AnchoredRight->y());
    if (StretchedRight)
      StretchedRight->resize(std::max(0, AnchoredRight->x() - 8 - StretchedRight->x()),
                             StretchedRight->height());
  }
  QWidget::resizeEvent(event);
}

TSelectButton::TSelectButton(QWidget *parent) : QCheckBox(parent) {
  setCursor(Qt::PointingHandCursor);
  connect(this, &QAbstractButton::clicked, this, [this] { emit Clicked(Tag); });
}

void TSelectButton::SetPicture(const QPixmap &picture) {
  picture_ = picture;
  resize(picture.size());
  update();
}

void TSelectButton::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.drawPixmap(0, 0, picture_);
  if (hasFocus()) {
    QPen pen(palette().color(QPalette::Highlight), 2);
    painter.setPen(pen);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 8, 8);
  }
}

// ------------------------------------------------------------ ellipsis label

TEllipsisLabel::TEllipsisLabel(const QString &text, TCut cut, QWidget *parent)
    : QLabel(parent), full_(text), cut_(cut) {
  setTextFormat(Qt::PlainText);
  setToolTip(text);
}

void TEllipsisLabel::resizeEvent(QResizeEvent *event) {
  QLabel::resizeEvent(event);
  Fit();
}

void TEllipsisLabel::Fit() {
  const QFontMetrics metrics(font());
  const QString cut = metrics.elidedText(full_, Qt::ElideRight, width());
  // Qt ends a cut with an ellipsis character, or three dots where the font
  // has none.
  const QString ellipsis = cut.endsWith(kEllipsis) ? kEllipsis : QStringLiteral("...");
  if (cut == full_ || cut_ == CutAnywhere || !cut.endsWith(ellipsis)) {
    setText(cut);
    return;
  }
  // The longest run of whole words within what fits: the cut, back to the
  // last space in it (the ellipsis then takes no more room than it did).
  const QString fits = cut.chopped(ellipsis.size());
  const bool wordEnds = full_.size() > fits.size() && full_[fits.size()] == ' ';
  const qsizetype space = wordEnds ? fits.size() : fits.lastIndexOf(' ');
  const QString words = space > 0 ? full_.left(space).trimmed() : QString();
  setText(words.isEmpty() ? cut : words + ellipsis);
}

// ------------------------------------------------------------- result panel

TVisualResult::TVisualResult(const TVideo &video, QWidget *area) : Video(video) {
  Panel = new TClickPanel(area);
  Panel->setContentsMargins(1, 1, 1, 1);
  QPalette palette = Panel->palette();
  palette.setColor(QPalette::Window, kPanelColour);
  Panel->setPalette(palette);
  Panel->setAutoFillBackground(true);
  Panel->setGeometry(0, 0, 100, ResultPanelHeight);
  Panel->setAccessibleName(QString::fromStdString(ShownTitle(Video)));

  SelectImage = new TSelectButton(Panel);
  SelectImage->move(8, 8);
  Panel->AnchoredRight = SelectImage;

  DescriptionLabel = new TEllipsisLabel("Description: " + QString::fromStdString(Video.Description),
                                        TEllipsisLabel::CutAfterWord, Panel);
  DescriptionLabel->setGeometry(144, 89, 100, 17);
  DurationLabel =
      FittedLabel("Duration: " + QString::fromStdString(Video.Duration), 144, 70, Panel);
  TitleLabel = new TEllipsisLabel(QString::fromStdString(TitleWithArtist(Video)),
                                  TEllipsisLabel::CutAnywhere, Panel);
  QFont bold = TitleLabel->font();
  bold.setBold(true);
  TitleLabel->setFont(bold);
  TitleLabel->setGeometry(144, 5, 321, 17);
  Panel->StretchedRight = TitleLabel; // a long title uses the room there is
  ViewsLabel = FittedLabel("Views: " + QString::fromStdString(Video.ViewCount), 144, 32, Panel);
  RatingLabel = FittedLabel("Rating: " + QString::fromStdString(Video.Rating), 144, 51, Panel);

  ThumbnailImage = new TWebImage(Panel);
  ThumbnailImage->setGeometry(8, 5, 130, 97);
  // The fetch starts as soon as the window has built the page's panels, so
  // that building them does not compete with 25 fetches for the processor. A
  // panel freed before then never starts its fetch.
  QMetaObject::invokeMethod(
      ThumbnailImage,
      [image = ThumbnailImage, url = Video.Thumbnail] { image->WebPicture().LoadFromURL(url); },
      Qt::QueuedConnection);

  for (QWidget *w :
       std::initializer_list<QWidget *>{SelectImage, DescriptionLabel, DurationLabel, TitleLabel,
                                        ViewsLabel, RatingLabel, ThumbnailImage})
    w->show();
  Panel->show();
}

TVisualResult::~TVisualResult() {
  // The panel's children go with it; a thumbnail still being fetched is
  // detached by its control.
  delete Panel;
}

void SetSelection(TVisualResult &result, bool selected, const QPixmap &picture) {
  result.Selected = selected;
  result.SelectImage->setChecked(selected);
  result.SelectImage->SetPicture(picture);
  result.SelectImage->setAccessibleName("Add " + QString::fromStdString(result.Video.Title));
  result.SelectImage->setAccessibleDescription(selected ? "Added" : "Not added");
}

} // namespace sonabox
