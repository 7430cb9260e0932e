#include "ui/settings/SettingsDialog.h"

#include "core/common/Background.h"
#include "core/common/TextHelpers.h"
#include "core/playback/PlaySequencer.h"
#include "core/settings/Settings.h"
#include "core/web/ServiceHosts.h"
#include "core/web/WebStuff.h"
#include "ui/widgets/Guarded.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <array>
#include <chrono>
#include <memory>

namespace sonabox {

namespace {

// How long the test waits for each service.
constexpr std::chrono::seconds TestDeadline{4};

QLineEdit *Field(const char *name, const std::string &text, QWidget *parent) {
  auto *edit = new QLineEdit(QString::fromStdString(text), parent);
  edit->setObjectName(name);
  edit->setMinimumWidth(280);
  return edit;
}

std::string Text(const QLineEdit *edit) { return TrimControl(edit->text().toStdString()); }

// What one service said to the test, in the user's words: any HTTP answer
// means that something answers at the address.
std::string Answer(TWebOutcome outcome) {
  switch (outcome) {
  case TWebOutcome::Answered:
  case TWebOutcome::Refused: return "answered";
  case TWebOutcome::Unreachable: return "could not be reached";
  case TWebOutcome::TimedOut: return "did not answer in time";
  case TWebOutcome::Failed: break;
  }
  return "failed";
}

} // namespace

TdSettings::TdSettings(TSettings &settings, QWidget *parent)
    : QDialog(parent), settings_(settings) {
  setObjectName("dSettings");
  setWindowTitle("Settings");
  auto *column = new QVBoxLayout(this);

  auto *services = new QGroupBox("Service addresses", this);
  auto *serviceForm = new QFormLayout(services);
  edVideoDataHost = Field("edVideoDataHost", VideoDataHost(), services);
  edVideoWebHost = Field("edVideoWebHost", VideoWebHost(), services);
  edServiceHost = Field("edServiceHost", ServiceHost(), services);
  serviceForm->addRow("&Video feed:", edVideoDataHost);
  serviceForm->addRow("Video &web host:", edVideoWebHost);
  serviceForm->addRow("Share and &update service:", edServiceHost);
  btnTest = new QPushButton("&Test", services);
  btnTest->setObjectName("btnTest");
  btnTest->setAutoDefault(false);
  lbTestResult = new QLabel(services);
  lbTestResult->setObjectName("lbTestResult");
  lbTestResult->setTextFormat(Qt::PlainText); // it quotes the addresses
  lbTestResult->setWordWrap(true);
  auto *test = new QHBoxLayout;
  test->addWidget(btnTest, 0, Qt::AlignTop);
  test->addWidget(lbTestResult, 1);
  serviceForm->addRow(test);
  column->addWidget(services);

  auto *proxy = new QGroupBox("Proxy (used when both are given)", this);
  auto *proxyForm = new QFormLayout(proxy);
  edProxyAddr = Field("edProxyAddr", StoreReadString(store_key::kProxyAddr).value_or(""), proxy);
  sbProxyPort = new QSpinBox(proxy);
  sbProxyPort->setObjectName("sbProxyPort");
  sbProxyPort->setRange(0, 65535);
  sbProxyPort->setSpecialValueText("none");
  sbProxyPort->setValue(StoreReadInt(store_key::kProxyPort).value_or(0));
  proxyForm->addRow("Pro&xy address:", edProxyAddr);
  proxyForm->addRow("Proxy &port:", sbProxyPort);
  column->addWidget(proxy);

  auto *sharing = new QGroupBox("Sharing", this);
  auto *shareForm = new QFormLayout(sharing);
  edShareName = Field("edShareName", settings_.ShareName(), sharing);
  edShareEmail = Field("edShareEmail", settings_.ShareEmail(), sharing);
  shareForm->addRow("Your &name:", edShareName);
  shareForm->addRow("Your &email:", edShareEmail);
  column->addWidget(sharing);

  auto *playing = new QGroupBox("Playing", this);
  auto *playForm = new QFormLayout(playing);
  cbPlayMode = new QComboBox(playing);
  cbPlayMode->setObjectName("cbPlayMode");
  for (const TPlayMode mode :
       {TPlayMode::Shuffle, TPlayMode::ShuffleAll, TPlayMode::InOrder, TPlayMode::RepeatOne})
    cbPlayMode->addItem(PlayModeName(mode));
  cbPlayMode->setCurrentText(
      PlayModeName(PlayModeFromName(StoreReadString(store_key::kPlayMode).value_or(""))));
  playForm->addRow("Play &mode:", cbPlayMode);
  cbNotify = new QCheckBox("Tell the desktop which video &comes next", playing);
  cbNotify->setObjectName("cbNotify");
  cbNotify->setChecked(StoreReadInt(store_key::kNotifyNextVideo).value_or(1) != 0);
  playForm->addRow(cbNotify);
  column->addWidget(playing);

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  column->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &TdSettings::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TdSettings::reject);
  connect(btnTest, &QPushButton::clicked, this, &TdSettings::TestServices);
}

void TdSettings::TestServices() {
  if (testing_) return;
  struct TProbe {
    const char *Name;
    std::string Url;
    TWebOutcome Outcome = TWebOutcome::Failed;
  };
  auto probes = std::make_shared<std::array<TProbe, 3>>(std::array<TProbe, 3>{{
      {"Video feed", "http://" + Text(edVideoDataHost) + "/feeds/api/categories"},
      {"Video web host", "http://" + Text(edVideoWebHost) + "/"},
      {"Share and update service", "http://" + Text(edServiceHost) + "/interface/updates.php"},
  }});
  testing_ = true;
  btnTest->setEnabled(false);
  lbTestResult->setText("Testing...");
  RunInBackground(
      this,
      [probes] {
        for (TProbe &probe : *probes) {
          TWebStuff web;
          web.SetDeadline(TestDeadline);
          web.GetText(probe.Url);
          probe.Outcome = web.LastOutcome();
        }
      },
      [this, probes] {
        testing_ = false;
        btnTest->setEnabled(true);
        std::string text;
        for (const TProbe &probe : *probes)
          text += std::string(probe.Name) + ": " + Answer(probe.Outcome) + "\n";
        text.pop_back();
        lbTestResult->setText(QString::fromStdString(text));
        lbTestResult->setAccessibleName(lbTestResult->text());
      });
}

void TdSettings::accept() {
  const struct {
    QLineEdit *Edit;
    const char *Key;
    const char *What;
  } hosts[] = {{edVideoDataHost, store_key::kVideoDataHost, "video feed"},
               {edVideoWebHost, store_key::kVideoWebHost, "video web host"},
               {edServiceHost, store_key::kServiceHost, "share and update service"}};
  for (const auto &host : hosts) {
    if (!IsServiceHost(Text(host.Edit))) {
      ShowError(this, "The address of the " + std::string(host.What) + ", \"" + Text(host.Edit) +
                          "\", is not a host or host:port.");
      host.Edit->setFocus();
      return;
    }
  }
  if (!Text(edProxyAddr).empty() && !IsServiceHost(Text(edProxyAddr))) {
    ShowError(this, "The proxy address \"" + Text(edProxyAddr) + "\" is not a host name.");
    edProxyAddr->setFocus();
    return;
  }
  if (!Text(edShareEmail).empty() && !IsEmailAddress(Text(edShareEmail))) {
    ShowError(this, "\"" + Text(edShareEmail) + "\" is not an e-mail address.");
    edShareEmail->setFocus();
    return;
  }
  RunGuarded(this, [&] {
    for (const auto &host : hosts) StoreWriteString(host.Key, Text(host.Edit));
    StoreWriteString(store_key::kProxyAddr, Text(edProxyAddr));
    StoreWriteString(store_key::kProxyPort, std::to_string(sbProxyPort->value()));
    StoreWriteString(store_key::kNotifyNextVideo, cbNotify->isChecked() ? "1" : "0");
    StoreWriteString(store_key::kPlayMode, cbPlayMode->currentText().toStdString());
    settings_.SaveShareDetails(Text(edShareName), Text(edShareEmail));
    QDialog::accept();
  });
}

} // namespace sonabox
