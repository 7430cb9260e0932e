#pragma once
// Our HTML view: just enough of one for the player page.
//
// It offers the three operations the program uses: navigate to "about:blank",
// the current document, and (through the document) loading new content from a
// byte stream. Loading a document starts the object it declares with the player
// plug-in, but only when its address is http or https on the configured video
// web host; anything else is not started. The view shows a black background
// with the video on it.
#include "core/playback/PlayerDocument.h"

#include <QWidget>

#include <memory>
#include <string>

class QVBoxLayout;

namespace sonabox {

class TMpvPlayer;

class THtmlView : public QWidget, public THtmlDocumentView {
  Q_OBJECT
public:
  explicit THtmlView(QWidget *parent = nullptr);
  ~THtmlView() override;

  // Shows an empty page and stops whatever was playing at once; afterwards the
  // view has a new, empty document. "about:blank" is the only page the program
  // navigates to and the only one this view knows: any address gives the empty page.
  void Navigate(const std::string &address);

  // The current document; none before the first navigation.
  THtmlDocument *Document() override;

  // The player plug-in; none until a document first declares a playable object.
  TMpvPlayer *Player() const;

  // The next object started begins `seconds` in instead of at its start (a
  // video moving from one view to another goes on where it was).
  void StartNextAt(double seconds) { startAt_ = seconds; }

signals:
  // The first playable document made the player, which is about to play it.
  void PlayerMade(TMpvPlayer *player);

private:
  void StartDeclaredObject();

  QVBoxLayout *layout_;
  std::unique_ptr<THtmlDocument> document_;
  std::unique_ptr<TMpvPlayer> player_;
  double startAt_ = 0;
};

} // namespace sonabox
