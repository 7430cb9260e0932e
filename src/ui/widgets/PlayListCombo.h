#pragma once
// The lists of playlists (on the Play, Find and Share pages and in the
// save-shared-videos dialog) are filled from the playlist store; videos saved
// into a playlist that holds some of them already are asked about.
#include "core/search/Video.h"

#include <QString>

#include <cstddef>
#include <optional>
#include <string>

class QComboBox;
class QWidget;

namespace sonabox {

class TPlayListManager;

// Fills the box with the playlist names, nothing chosen, in one bulk update
// that runs no change handler. Then, when `remembered` names a listed
// playlist, selects it: that runs the box's change handler, unless the box
// showed that name before.
void FillPlayListCombo(QComboBox *box, TPlayListManager &store, const QString &remembered = {});

// The videos to add to the existing playlist `name`: when it holds some of
// them already, the user is asked whether to add them again or skip them
// (`what` names the videos in the question: "ticked videos"). Nothing when
// the user cancels; `skipped` counts the videos left out.
// What a save did: "2 videos added to "Mix"", and how many were skipped.
std::string SavedText(std::size_t added, std::size_t skipped, const std::string &name);

std::optional<TVideos> AskAboutRepeats(QWidget *parent, TPlayListManager &store,
                                       const std::string &name, const TVideos &videos,
                                       const std::string &what, std::size_t &skipped);

} // namespace sonabox
