#include "ui/widgets/Controls.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QSlider>
#include <QTableView>
#include <QToolButton>

namespace sonabox {

void Paint(QWidget *w, const QColor &background, const QColor &text) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, background);
  if (text.isValid()) {
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Text, text);
  }
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

QString NoMnemonic(QString text) { return text.replace('&', QStringLiteral("&&")); }

QWidget *Panel(const char *name, QWidget *parent) {
  auto *w = new QWidget(parent);
  w->setObjectName(name);
  return w;
}

QLabel *Label(const char *name, const char *text, QWidget *parent, bool bold) {
  auto *l = new QLabel(QString::fromUtf8(text), parent);
  l->setObjectName(name);
  if (bold) {
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
  }
  return l;
}

QLineEdit *Edit(const char *name, QWidget *parent) {
  auto *e = new QLineEdit(parent);
  e->setObjectName(name);
  return e;
}

QComboBox *Combo(const char *name, QWidget *parent) {
  auto *c = new QComboBox(parent);
  c->setObjectName(name);
  return c;
}

QToolButton *LinkedButton(const char *name, QAction *action, QWidget *parent) {
  auto *b = new QToolButton(parent);
  b->setObjectName(name);
  b->setToolButtonStyle(Qt::ToolButtonTextOnly);
  b->setDefaultAction(action);
  b->setMinimumHeight(26);
  return b;
}

QToolButton *CarrierButton(const char *name, QAction *action, QWidget *parent) {
  auto *b = LinkedButton(name, action, parent);
  b->hide();
  return b;
}

QAction *Action(const char *name, const char *caption, QActionGroup *list, int tag) {
  auto *a = new QAction(QString::fromUtf8(caption), list);
  a->setObjectName(name);
  a->setData(tag);
  return a;
}

QActionGroup *ActionList(const char *name, QObject *parent) {
  auto *l = new QActionGroup(parent);
  l->setObjectName(name);
  l->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
  return l;
}

QTableView *Grid(const char *name, QWidget *parent) {
  auto *g = new QTableView(parent);
  g->setObjectName(name);
  g->setEditTriggers(QAbstractItemView::NoEditTriggers);
  g->setSelectionBehavior(QAbstractItemView::SelectRows);
  g->setSelectionMode(QAbstractItemView::SingleSelection);
  g->verticalHeader()->hide();
  g->verticalHeader()->setDefaultSectionSize(22);
  g->setShowGrid(false);
  g->setAlternatingRowColors(true);
  g->setWordWrap(false);
  return g;
}

namespace {

class TJumpToClick : public QProxyStyle {
public:
  int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                QStyleHintReturn *returnData) const override {
    if (hint == QStyle::SH_Slider_AbsoluteSetButtons) return Qt::LeftButton;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

} // namespace

void JumpToClick(QSlider *slider) {
  auto *style = new TJumpToClick;
  style->setParent(slider);
  slider->setStyle(style);
}

} // namespace sonabox
