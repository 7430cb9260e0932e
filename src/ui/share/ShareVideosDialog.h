#pragma once
// TdShareVideos: the modal dialog that asks where received shared videos go,
// into an existing playlist or into a new one. It only collects the choice;
// the caller reads back the modal result, cbAddPlayList and edPlayListName.
// The two inputs exclude each other: choosing a playlist empties the name,
// typing a name clears the choice.
#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;

namespace sonabox {

class TImageButton;
class TPlayListManager;

class TdShareVideos : public QDialog {
  Q_OBJECT
public:
  // With a playlist store, a new name is checked against it before the dialog
  // closes.
  explicit TdShareVideos(QWidget *parent = nullptr, TPlayListManager *store = nullptr);
  ~TdShareVideos() override;

  QLabel *lbShareNumber;
  QLabel *lbShareNote;
  QListWidget *lbShareVideos; // the titles of the videos received, before they are saved
  QLabel *Label2;
  QComboBox *cbAddPlayList;
  QLabel *lbOrNewPlayList;
  QLineEdit *edPlayListName;
  TImageButton *iFindSave; // tag 31

  void cbAddPlayListChange();    // empties edPlayListName
  void edPlayListNameKeyPress(); // clears the choice of cbAddPlayList; the key then lands
  // Confirms with OK when a playlist is chosen or a new name is given; a name
  // of blanks only, or one that a playlist has already, is refused with a
  // message and the dialog stays open.
  void iFindSaveClick();

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void paintEvent(QPaintEvent *event) override;

private:
  TPlayListManager *store_;
};

// The instance that exists, or null: set by the constructor, cleared by the
// destructor of that instance.
extern TdShareVideos *dShareVideos;

} // namespace sonabox
