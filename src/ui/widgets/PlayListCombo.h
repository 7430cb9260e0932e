#pragma once
// The lists of playlists (on the Play, Find and Share pages and in the
// save-shared-videos dialog) are filled from the playlist store.
#include <QString>

class QComboBox;

namespace sonabox {

class TPlayListManager;

// Fills the box with the playlist names, nothing chosen, in one bulk update
// that runs no change handler. Then, when `remembered` names a listed
// playlist, selects it: that runs the box's change handler, unless the box
// showed that name before.
void FillPlayListCombo(QComboBox *box, TPlayListManager &store, const QString &remembered = {});

} // namespace sonabox
