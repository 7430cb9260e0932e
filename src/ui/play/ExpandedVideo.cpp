#include "ui/play/ExpandedVideo.h"

#include "ui/widgets/HtmlView.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace sonabox {

TdExpandedVideo::TdExpandedVideo(QWidget &owner)
    : QWidget(&owner, Qt::Window), wbExpandedVideo(new THtmlView(this)) {
  setObjectName("dExpandedVideo");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Currently Playing: ");
  setFont(QFont("Tahoma", 8));
  wbExpandedVideo->setObjectName("wbExpandedVideo");
  wbExpandedVideo->setAccessibleName("Expanded player");
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(wbExpandedVideo);
  resize(624, 409);
  move(owner.frameGeometry().center() - rect().center());
  FormCreate();
}

void TdExpandedVideo::FormCreate() { wbExpandedVideo->Navigate("about:blank"); }

void TdExpandedVideo::ToggleFullScreen() {
  if (isFullScreen())
    showNormal();
  else
    showFullScreen();
}

void TdExpandedVideo::mouseDoubleClickEvent(QMouseEvent *) { ToggleFullScreen(); }

void TdExpandedVideo::closeEvent(QCloseEvent *event) {
  emit Closed();
  event->accept(); // the window deletes itself once the close has completed
}

} // namespace sonabox
