#pragma once
// The result panels of the Find page: one panel per video that a search
// returned, with its thumbnail, title, view count, rating, duration, the start
// of its description and the "ADD"/"REMOVE" picture that ticks it for saving.
#include "core/search/Video.h"

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
  // Moved along with the right edge when the panel changes width.
  QWidget *AnchoredRight = nullptr;
signals:
  void Clicked(int tag);

protected:
  void mousePressEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
  void resizeEvent(QResizeEvent *event) override;
};

class TClickImage : public QLabel {
  Q_OBJECT
public:
  explicit TClickImage(QWidget *parent);
  int Tag = 0;
signals:
  void Clicked(int tag);

protected:
  void mousePressEvent(QMouseEvent *event) override;
  void mouseReleaseEvent(QMouseEvent *event) override;
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
  TClickImage *SelectImage;
  TEllipsisLabel *DescriptionLabel;
  QLabel *DurationLabel;
  TEllipsisLabel *TitleLabel;
  QLabel *ViewsLabel;
  QLabel *RatingLabel;
  TWebImage *ThumbnailImage;
};

using TVisualResults = std::vector<TVisualResult *>;

// Sets the panel's selection and shows a copy of the picture, sized to it.
void SetSelection(TVisualResult &result, bool selected, const QPixmap &picture);

// Panel geometry.
constexpr int ResultPanelPitch = 112; // a panel's top is its index times this
constexpr int ResultPanelHeight = 110;

} // namespace sonabox
