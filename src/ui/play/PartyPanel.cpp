#include "ui/play/PartyPanel.h"

#include "core/common/VideoRecord.h"
#include "core/party/PartyClient.h"
#include "core/settings/Settings.h"
#include "core/web/ServiceHosts.h"

#include <qrencode.h>

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace sonabox {

namespace {

// Where the host key of the party's server is: the store's "PartyHostKeyFile",
// else the file of a server that keeps its data in its default folder.
std::filesystem::path HostKeyFile() {
  const std::optional<std::string> file = StoreReadString("PartyHostKeyFile");
  return file && !file->empty() ? std::filesystem::path(*file) : DefaultPartyHostKeyFile();
}

QString Text(const std::string &text) { return QString::fromStdString(text); }

// The address and its code in the top right corner of a window, the code
// about a quarter of the window's height so that it can be read across a
// room. The video under it draws in a native window of its own, so the corner
// is a native window too, raised above its siblings whenever one of them
// changes.
class TPartyCorner : public QFrame {
public:
  explicit TPartyCorner(QWidget &window) : QFrame(&window) {
    setObjectName("pPartyCorner");
    setAttribute(Qt::WA_NativeWindow);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::white);
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(2);
    code_ = new QLabel(this);
    code_->setObjectName("imgPartyCornerCode");
    code_->setAccessibleName("Party address as a QR code");
    address_ = new QLabel(this);
    address_->setObjectName("lbPartyCornerAddress");
    address_->setTextFormat(Qt::PlainText);
    layout->addWidget(code_, 0, Qt::AlignHCenter);
    layout->addWidget(address_, 0, Qt::AlignHCenter);
    window.installEventFilter(this);
    for (QWidget *sibling : window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
      if (sibling != this) sibling->installEventFilter(this);
    hide();
  }

  void Set(const QString &address) {
    address_->setText(address);
    scale_ = 0; // a new code
    setVisible(!address.isEmpty());
    Place();
  }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    switch (event->type()) {
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::ChildAdded:
    case QEvent::WinIdChange:
      // After the change has been handled, so that a native window it made is below.
      QMetaObject::invokeMethod(this, &TPartyCorner::Place, Qt::QueuedConnection);
      break;
    default: break;
    }
    return QFrame::eventFilter(watched, event);
  }

private:
  void Place() {
    if (isHidden()) return;
    const QImage plain = PartyQrCode(address_->text().toStdString(), 1);
    const int scale = std::max(2, parentWidget()->height() / 4 / std::max(plain.height(), 1));
    if (scale != scale_) {
      scale_ = scale;
      code_->setPixmap(QPixmap::fromImage(PartyQrCode(address_->text().toStdString(), scale)));
    }
    adjustSize();
    const int margin = 12;
    move(parentWidget()->width() - width() - margin, margin);
    raise();
  }

  QLabel *code_, *address_;
  int scale_ = 0; // of the code shown
};

} // namespace

QImage PartyQrCode(const std::string &text, int scale) {
  QRcode *code = QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M);
  if (!code) return {};
  const int quiet = 4, size = (code->width + 2 * quiet) * scale;
  QImage image(size, size, QImage::Format_Mono);
  image.fill(1); // white
  for (int y = 0; y < code->width; ++y)
    for (int x = 0; x < code->width; ++x)
      if (code->data[y * code->width + x] & 1)
        for (int dy = 0; dy < scale; ++dy)
          for (int dx = 0; dx < scale; ++dx)
            image.setPixel((x + quiet) * scale + dx, (y + quiet) * scale + dy, 0);
  QRcode_free(code);
  return image;
}

TPartyPanel::TPartyPanel(TPlayback &playback, QWidget *parent)
    : QWidget(parent), playback_(playback) {
  setObjectName("pParty");
  auto *layout = new QGridLayout(this);
  layout->setContentsMargins(0, 6, 0, 0);
  cbParty = new QCheckBox("Party", this);
  cbParty->setObjectName("cbParty");
  cbParty->setToolTip("Let guests on the network queue videos from their phones");
  lbPartyAddress = new QLabel("Guests queue videos from their phones.", this);
  lbPartyAddress->setObjectName("lbPartyAddress");
  lbPartyAddress->setTextFormat(Qt::PlainText);
  lbPartyAddress->setWordWrap(true);
  lbPartyAddress->setTextInteractionFlags(Qt::TextSelectableByMouse);
  imgPartyCode = new QLabel(this);
  imgPartyCode->setObjectName("imgPartyCode");
  imgPartyCode->setAccessibleName("Party address as a QR code");
  imgPartyCode->hide(); // until there is an address
  lbUpNext = new QLabel("Up next", this);
  lstUpNext = new QListWidget(this);
  lstUpNext->setObjectName("lstUpNext");
  lstUpNext->setAccessibleName("Up next");
  lbUpNext->setBuddy(lstUpNext);
  btnRemove = new QPushButton("Remove", this);
  btnRemove->setObjectName("btnRemove");
  btnClear = new QPushButton("Clear", this);
  btnClear->setObjectName("btnClear");
  cbLockAdding = new QCheckBox("Lock adding", this);
  cbLockAdding->setObjectName("cbLockAdding");
  // The code beside the address and the host's buttons, so that Up next
  // keeps its room; the list takes what height the page gives the panel.
  auto *buttons = new QHBoxLayout;
  buttons->addWidget(btnRemove);
  buttons->addWidget(btnClear);
  buttons->addStretch();
  layout->addWidget(cbParty, 0, 0, 1, 2);
  layout->addWidget(imgPartyCode, 1, 0, 4, 1, Qt::AlignLeft | Qt::AlignTop);
  layout->addWidget(lbPartyAddress, 1, 1);
  layout->addWidget(cbLockAdding, 2, 1);
  layout->addLayout(buttons, 3, 1);
  layout->addWidget(lbUpNext, 5, 0, 1, 2);
  layout->addWidget(lstUpNext, 6, 0, 1, 2);
  layout->setRowStretch(6, 4);
  layout->setColumnStretch(1, 1);
  // Three entries at least; one line each, cut at the right rather than scrolled.
  // Its own wish of height counts for nothing: the playlist is served first.
  lstUpNext->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
  lstUpNext->setMinimumHeight(lstUpNext->fontMetrics().height() * 3 + 8);
  lstUpNext->setTextElideMode(Qt::ElideRight);
  lstUpNext->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  connect(cbParty, &QCheckBox::toggled, this, &TPartyPanel::cbPartyClick);
  connect(btnRemove, &QPushButton::clicked, this, [this] {
    if (QListWidgetItem *item = lstUpNext->currentItem())
      client_->Remove(item->data(Qt::UserRole).toLongLong());
  });
  connect(btnClear, &QPushButton::clicked, this, [this] { client_->Clear(); });
  connect(cbLockAdding, &QCheckBox::toggled, this,
          [this](bool locked) { client_->SetLocked(locked); });
  connect(lstUpNext, &QListWidget::currentRowChanged, this,
          [this] { btnRemove->setEnabled(lstUpNext->currentItem() != nullptr); });
  Show();
}

TPartyPanel::~TPartyPanel() = default;

// The corner is made only once a party is on: a native child window changes
// how the window's own video window is stacked and handed back, which a
// window without a party must not pay for.
void TPartyPanel::ShowInCorner(QWidget &window) {
  auto corner = std::make_shared<QPointer<TPartyCorner>>();
  auto show = [&window, corner](const QString &address) {
    if (!*corner && address.isEmpty()) return;
    if (!*corner) *corner = new TPartyCorner(window);
    (*corner)->Set(address);
  };
  show(address_);
  connect(this, &TPartyPanel::AddressChanged, &window, show);
}

void TPartyPanel::cbPartyClick(bool on) {
  if (!client_) {
    client_ = std::make_unique<TPartyClient>(playback_, VideoWebHost(), HostKeyFile());
    connect(client_.get(), &TPartyClient::Changed, this, &TPartyPanel::Show);
    connect(client_.get(), &TPartyClient::Failed, this,
            [this](const std::string &message) { lbPartyAddress->setText(Text(message)); });
  }
  client_->SetOn(on);
}

void TPartyPanel::Show() {
  const TPartyView none;
  const TPartyView &party = client_ ? client_->View() : none;
  QString address;
  if (!client_) {
    lbPartyAddress->setText("Guests queue videos from their phones.");
  } else if (!party.Reachable) {
    lbPartyAddress->setText("The party server cannot be reached; the playlist goes on.");
  } else if (!party.On) {
    lbPartyAddress->setText("The party is off.");
  } else {
    address = Text(party.Address);
    lbPartyAddress->setText("Guests open " + address);
  }
  // What the server says, not a change asked for.
  const QSignalBlocker quietParty(cbParty), quietLock(cbLockAdding);
  if (client_) cbParty->setChecked(party.Reachable && party.On);
  if (address != address_) {
    address_ = address;
    const QImage code = address.isEmpty() ? QImage() : PartyQrCode(party.Address, 2);
    imgPartyCode->setPixmap(QPixmap::fromImage(code));
    imgPartyCode->setVisible(!code.isNull());
    emit AddressChanged(address_);
  }
  const int row = lstUpNext->currentRow();
  lstUpNext->clear();
  for (const TPartyEntry &entry : party.Next) {
    TVideo video;
    video.Title = entry.Title;
    video.Artist = entry.Artist;
    auto *item =
        new QListWidgetItem(Text(ShownTitle(video)) + " (queued by " + Text(entry.Name) + ")");
    item->setData(Qt::UserRole, static_cast<qlonglong>(entry.Entry));
    lstUpNext->addItem(item);
  }
  lstUpNext->setCurrentRow(std::min(row, lstUpNext->count() - 1));
  const bool on = party.Reachable && party.On;
  cbLockAdding->setChecked(party.Locked);
  for (QWidget *w :
       std::initializer_list<QWidget *>{lbUpNext, lstUpNext, btnRemove, btnClear, cbLockAdding})
    w->setVisible(on);
  // On, the panel shares the page's height with the playlist; off, it keeps to its lines.
  setSizePolicy(QSizePolicy::Preferred, on ? QSizePolicy::Preferred : QSizePolicy::Maximum);
  btnRemove->setEnabled(lstUpNext->currentItem() != nullptr);
  btnClear->setEnabled(!party.Next.empty());
}

} // namespace sonabox
