#include "ui/widgets/HtmlView.h"

#include "core/web/ServiceHosts.h"
#include "ui/widgets/MpvPlayer.h"

#include <QPalette>
#include <QVBoxLayout>

#include <utility>

namespace sonabox {

THtmlView::THtmlView(QWidget *parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
  layout_->setContentsMargins(0, 0, 0, 0);
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  setPalette(black);
  setAutoFillBackground(true);
}

// The player goes first: its video widget is one of the view's children.
THtmlView::~THtmlView() { player_.reset(); }

void THtmlView::Navigate(const std::string &) {
  if (player_) player_->Stop();
  document_ = std::make_unique<THtmlDocument>();
  connect(document_.get(), &THtmlDocument::Loaded, this, &THtmlView::StartDeclaredObject);
}

THtmlDocument *THtmlView::Document() { return document_.get(); }

TMpvPlayer *THtmlView::Player() const { return player_.get(); }

void THtmlView::StartDeclaredObject() {
  const std::string &address = document_->MovieAddress();
  const double start = std::exchange(startAt_, 0.0);
  if (!IsPlayableMovieAddress(address, VideoWebHost())) {
    if (player_) player_->Stop();
    return;
  }
  if (!player_) {
    player_ = std::make_unique<TMpvPlayer>(this);
    if (QWidget *video = player_->VideoWidget()) layout_->addWidget(video);
    emit PlayerMade(player_.get());
  }
  player_->Play(address, start);
}

} // namespace sonabox
