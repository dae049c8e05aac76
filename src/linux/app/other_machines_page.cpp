#include "linux/app/other_machines_page.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/preference_keys.h"
#include "platform/preferences_store.h"
#include "remote/remote_host_states.h"
#include "remote/remote_install.h"
#include "remote/remote_install_states.h"

namespace tovami::linux_backend {
namespace {

QString q(const std::string& text) {
  return QString::fromStdString(text);
}

std::vector<std::string> hostsIn(const PreferenceStore& store, std::string_view key) {
  return remote::hostList(store.stringValue(key).value_or(""));
}

}  // namespace

OtherMachinesPage::OtherMachinesPage(PreferenceStore& store, QWidget* parent) : QWidget(parent), store_(store) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* caption = new QLabel("Agents on machines you reach with ssh (Tovami installed there): one host a line.");
  caption->setWordWrap(true);
  caption->setProperty("caption", true);
  caption->setFont([font = caption->font()]() mutable {
    font.setPointSizeF(font.pointSizeF() * 0.85);
    return font;
  }());
  caption->setForegroundRole(QPalette::PlaceholderText);
  layout->addWidget(caption);
  hosts_ = new QPlainTextEdit;
  hosts_->setObjectName("remoteHosts");
  hosts_->setAccessibleName("Hosts");
  hosts_->setTabChangesFocus(true);
  hosts_->setFixedHeight(hosts_->fontMetrics().lineSpacing() * 4 + 12);
  layout->addWidget(hosts_);
  auto* connectNow = new QPushButton("Connect now");
  connectNow->setObjectName("Connect now");
  layout->addWidget(connectNow, 0, Qt::AlignLeft);
  rows_ = new QVBoxLayout;
  layout->addLayout(rows_);

  connect(connectNow, &QPushButton::clicked, this, [this] {
    saveHosts();
    hosts_->setPlainText(q(remote::hostListText(hostsIn(store_, prefs::kRemoteHosts))).replace(',', '\n'));
    if (remote::hostStates().connectNow) remote::hostStates().connectNow();
  });
  // Rebuilt after the event that changed them: a switch's own click may be what changed them.
  const auto later = [this] { QMetaObject::invokeMethod(this, [this] { showHosts(); }, Qt::QueuedConnection); };
  storeToken_ = store_.addObserver([later](std::string_view key) {
    if (key == prefs::kRemoteHosts || key == prefs::kRemoteApprovalHosts) later();
  });
  statesToken_ = remote::hostStates().addObserver(later);
  installsToken_ = remote::installStates().addObserver(later);
  hosts_->setPlainText(q(remote::hostListText(hostsIn(store_, prefs::kRemoteHosts))).replace(',', '\n'));
  showHosts();
}

OtherMachinesPage::~OtherMachinesPage() {
  store_.removeObserver(storeToken_);
  remote::hostStates().removeObserver(statesToken_);
  remote::installStates().removeObserver(installsToken_);
}

// The list as typed, when it changed: ssh names one a line.
void OtherMachinesPage::saveHosts() {
  const auto hosts = remote::hostList(hosts_->toPlainText().toStdString());
  if (hosts != hostsIn(store_, prefs::kRemoteHosts)) store_.setString(prefs::kRemoteHosts, remote::hostListText(hosts));
}

// One switch and one state line per host; where Tovami is missing, its install button and words.
void OtherMachinesPage::showHosts() {
  while (auto* item = rows_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  const auto approvals = hostsIn(store_, prefs::kRemoteApprovalHosts);
  for (const auto& host : hostsIn(store_, prefs::kRemoteHosts)) {
    auto* box = new QCheckBox(q("Approvals from " + host));
    box->setObjectName(q("Approvals from " + host));
    box->setChecked(std::find(approvals.begin(), approvals.end(), host) != approvals.end());
    connect(box, &QCheckBox::toggled, this, [this, host](bool on) {
      store_.setString(prefs::kRemoteApprovalHosts,
                       remote::hostListText(remote::withHost(hostsIn(store_, prefs::kRemoteApprovalHosts), host, on)));
    });
    rows_->addWidget(box);
    const std::string state = remote::hostStates().textOf(host);
    auto* line = new QLabel(q(host + ": " + (state.empty() ? "not connected" : state)));
    line->setObjectName(q("state of " + host));
    line->setTextFormat(Qt::PlainText);  // the words may quote what the host printed
    line->setWordWrap(true);
    line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    rows_->addWidget(line);
    const std::string words = remote::installStates().textOf(host);
    if (remote::install::offersInstall(state)) {
      auto* install = new QPushButton("&Install on " + q(host).replace('&', "&&"));  // Alt+I
      install->setObjectName(q("Install on " + host));
      install->setToolTip(q("Copies this Tovami to ~/.local/bin/tovami on " + host + " over ssh, then connects"));
      install->setEnabled(words != remote::install::installingText(host));
      connect(install, &QPushButton::clicked, this, [host] {
        if (remote::installNow()) remote::installNow()(host);
      });
      rows_->addWidget(install, 0, Qt::AlignLeft);
    }
    if (!words.empty()) {
      auto* said = new QLabel(q(words));
      said->setObjectName(q("install state of " + host));
      said->setTextFormat(Qt::PlainText);
      said->setWordWrap(true);
      said->setTextInteractionFlags(Qt::TextSelectableByMouse);
      rows_->addWidget(said);
    }
  }
}

}  // namespace tovami::linux_backend
