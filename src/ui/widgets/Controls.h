#pragma once
// Small makers of the controls the pages are built from, each named by its
// object name, and the program's colours.
//
// Conventions of the pages:
// - Buttons linked to an action are QToolButtons whose default action is that
//   action: they show its caption and follow its enabled state, and a click
//   triggers it.
// - An action's tag is its data() (an int).
// - A carrier button keeps an action's enable rule alive where the layout had a
//   button; the rules run by themselves here, so it stays hidden and out of the
//   way of the keyboard and of screen readers.
#include <QColor>
#include <QString>

class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QObject;
class QSlider;
class QTableView;
class QToolButton;
class QWidget;

namespace sonabox {

// The jukebox colours: night blue around the pages, amber for what plays.
inline const QColor kNight(22, 24, 40);
inline const QColor kNightPanel(32, 34, 58);
inline const QColor kPage(243, 242, 248);
inline const QColor kResults(252, 253, 254);
inline const QColor kAmberText(255, 205, 130);

// Fills the widget's background (and sets its text colour when given).
void Paint(QWidget *w, const QColor &background, const QColor &text = {});

QWidget *Panel(const char *name, QWidget *parent);
// A label with a fixed caption of the program's own.
QLabel *Label(const char *name, const char *text, QWidget *parent, bool bold = false);
QLineEdit *Edit(const char *name, QWidget *parent);
QComboBox *Combo(const char *name, QWidget *parent);
QToolButton *LinkedButton(const char *name, QAction *action, QWidget *parent);
QToolButton *CarrierButton(const char *name, QAction *action, QWidget *parent);
QAction *Action(const char *name, const char *caption, QActionGroup *list, int tag = 0);
// A list of actions that are not exclusive.
QActionGroup *ActionList(const char *name, QObject *parent);
// Outside text (a playlist name) for a caption that marks a keyboard shortcut
// with "&" (a button, or a label with a buddy): every "&" shows as typed.
QString NoMnemonic(QString text);
// A read-only grid that selects whole rows, one at a time.
QTableView *Grid(const char *name, QWidget *parent);
// A click on the slider jumps to the place clicked, instead of a page step.
void JumpToClick(QSlider *slider);

} // namespace sonabox
