#pragma once
// The host's view of a party on the Play page: the "Party" switch, the address
// that guests open (as text and as a QR code), "Up next" with who queued each
// video, and Remove, Clear and Lock adding. The party itself is the core's
// TPartyClient, made when the switch is first turned on (nothing reaches the
// network before).
#include <QWidget>

#include <memory>
#include <string>

class QCheckBox;
class QImage;
class QLabel;
class QListWidget;
class QPushButton;

namespace sonabox {

class TPartyClient;
class TPlayback;

// A QR code of the text, each module `scale` pixels, with a quiet zone of
// four modules; a null image when the text cannot be encoded.
QImage PartyQrCode(const std::string &text, int scale);

class TPartyPanel : public QWidget {
  Q_OBJECT
public:
  TPartyPanel(TPlayback &playback, QWidget *parent);
  ~TPartyPanel() override;

  QCheckBox *cbParty;
  QLabel *lbPartyAddress; // the address, or why there is none
  QLabel *imgPartyCode;
  QLabel *lbUpNext;
  QListWidget *lstUpNext;
  QPushButton *btnRemove;
  QPushButton *btnClear;
  QCheckBox *cbLockAdding;

  TPartyClient *Client() const { return client_.get(); }

  // Shows the address and its QR code in the top right corner of `window` (the
  // expanded video, on the television) while the party is on: above the video,
  // clear of the controls under it, following the switch. It goes with the
  // window.
  void ShowInCorner(QWidget &window);

signals:
  // The address to show beside the video (empty: none).
  void AddressChanged(const QString &address);

private:
  void cbPartyClick(bool on);
  void Show();

  TPlayback &playback_;
  std::unique_ptr<TPartyClient> client_;
  QString address_;
};

} // namespace sonabox
