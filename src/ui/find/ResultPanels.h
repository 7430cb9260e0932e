#pragma once
// The result panels of the Find page: one panel per video that a search
// returned, with its thumbnail, title, view count, rating, duration, the start
// of its description and the "ADD"/"Added" toggle that ticks it for saving.
#include "core/search/Video.h"

#include <QCheckBox>
#include <QLabel>
#include <QPixmap>
#include <QWidget>

#include <vector>

namespace sonabox {

class TWebImage;

// A control that reports a left click (press and release on it) with its tag.
// The panel and its selection picture are such controls.
class TClickPanel : public QWidget {
  Q_OBJECT
public:
  explicit TClickPanel(QWidget *parent);
  int Tag = 0;
  // Moved along with the right edge when the panel changes width; the
  // stretched one's right edge follows it, 8 pixels short of its left edge.
  QWidget *AnchoredRight = nullptr;
  QWidget *StretchedRight = nullptr;
signals:
  void Clicked(int tag);

protected:
  void mousePressEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
};

// The panel's "ADD"/"Added" toggle: a check button that shows its picture,
// ticked by a click or Space; it reports the toggle with its tag. The page
// decides which toggle Tab reaches.
class TSelectButton : public QCheckBox {
  Q_OBJECT
public:
  explicit TSelectButton(QWidget *parent);
  int Tag = 0;
  // Shows a copy of the picture, sized to it.
  void SetPicture(const QPixmap &picture);
  const QPixmap &Picture() const { return picture_; }
  QSize sizeHint() const override { return picture_.size(); }
signals:
  void Clicked(int tag);

protected:
  void paintEvent(QPaintEvent *event) override;
  bool hitButton(const QPoint &pos) const override { return rect().contains(pos); }

private:
  QPixmap picture_;
};

// A one-line label that shows as much of its text as its width allows, cut
// with an ellipsis: at the end, or after the last whole word that fits.
class TEllipsisLabel : public QLabel {
  Q_OBJECT
public:
  enum TCut { CutAnywhere, CutAfterWord };
  TEllipsisLabel(const QString &text, TCut cut, QWidget *parent);
  const QString &FullText() const { return full_; }

protected:
  void resizeEvent(QResizeEvent *event) override;

private:
  void Fit();
  QString full_;
  TCut cut_;
};

// One result panel. A plain object that owns the controls of its panel.
class TVisualResult {
public:
  // Copies the record, builds the panel in `area` (left 0; the window sets
  // its top and width, the description width and the selection picture's
  // place and picture) and has the thumbnail fetched: the fetch starts when
  // the event loop next turns.
  TVisualResult(const TVideo &video, QWidget *area);
  ~TVisualResult(); // frees the panel and its controls
  TVisualResult(const TVisualResult &) = delete;
  TVisualResult &operator=(const TVisualResult &) = delete;

  TVideo Video;
  bool Selected = false;
  TClickPanel *Panel;
  TSelectButton *SelectImage;
  TEllipsisLabel *DescriptionLabel;
  QLabel *DurationLabel;
  TEllipsisLabel *TitleLabel;
  QLabel *ViewsLabel;
  QLabel *RatingLabel;
  TWebImage *ThumbnailImage;
};

using TVisualResults = std::vector<TVisualResult *>;

// Sets the panel's selection (the toggle's check state) and shows a copy of
// the picture, sized to it.
void SetSelection(TVisualResult &result, bool selected, const QPixmap &picture);

// Panel geometry.
constexpr int ResultPanelPitch = 112; // a panel's top is its index times this
constexpr int ResultPanelHeight = 110;

} // namespace sonabox
