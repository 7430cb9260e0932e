#pragma once
// What the main window remembers between runs, in the per-user store: its
// place and size (and whether it was maximized), the page shown and the
// playlist open on the Play page. They
// are written when the window closes and read before it is first shown.
//
// At the first start the window takes a good part of the screen, centred. A
// remembered place that no screen shows any more (a screen was removed, or
// its resolution lowered) is brought back onto the primary screen. A
// remembered playlist that no longer exists is ignored.
#include <QList>
#include <QRect>

namespace sonabox {

class TfMain;

// The place at the first start on a screen with this available area: four
// fifths of it each way (at least 769 x 556 where that fits), centred.
QRect FirstStartGeometry(const QRect &available);

// A remembered place, kept when one of the areas (the screens' available
// areas, the primary screen's first) holds the middle of its top edge, where
// the title bar is grabbed, and is large enough for it; otherwise made no
// larger than the first area and centred on it.
QRect OntoScreens(const QRect &remembered, const QList<QRect> &areas);

// Before the window is first shown, after FormCreate.
void RestoreWindow(TfMain &window);
// When the window closes. A store that cannot be written loses nothing else.
void RememberWindow(TfMain &window);

} // namespace sonabox
