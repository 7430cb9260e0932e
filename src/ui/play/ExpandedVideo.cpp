#include "ui/play/ExpandedVideo.h"

#include "ui/app/MainWindow.h"
#include "ui/widgets/HtmlView.h"

#include <QCloseEvent>
#include <QVBoxLayout>

namespace sonabox {

TdExpandedVideo::TdExpandedVideo(TfMain &owner)
    : QWidget(&owner, Qt::Window), wbExpandedVideo(new THtmlView(this)), owner_(owner) {
  setObjectName("dExpandedVideo");
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Currently Playing:: ");
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

void TdExpandedVideo::closeEvent(QCloseEvent *event) {
  FormClose();
  event->accept(); // the window deletes itself once the close has completed
}

void TdExpandedVideo::FormClose() {
  owner_.dExpandedVideo = nullptr;
  owner_.ShowCurrentVideo(false);
}

} // namespace sonabox
