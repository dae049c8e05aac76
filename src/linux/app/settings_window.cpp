#include "linux/app/settings_window.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <utility>

#include "app/hot_key_texts.h"
#include "app/preference_keys.h"
#include "app/settings_texts.h"
#include "platform/preferences_store.h"

namespace tovami::linux_backend {
namespace {

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

QVBoxLayout* addSection(QVBoxLayout* page, const std::string& title) {
  auto* box = new QGroupBox(q(title));
  box->setObjectName(q(title));
  auto* layout = new QVBoxLayout(box);
  layout->setSpacing(6);
  page->addWidget(box);
  return layout;
}

}  // namespace

SettingsWindow::SettingsWindow(std::unique_ptr<SettingsModel> model, PreferenceStore& store,
                               SettingsSessionFacts session)
    : model_(std::move(model)), store_(store), session_(std::move(session)) {
  setWindowTitle("Tovami Settings");
  setObjectName("TovamiSettings");
  setFixedSize(kWidth, kHeight);
  setAttribute(Qt::WA_DeleteOnClose);
  build();
  refresh();
  observerToken_ = store_.addObserver([this](std::string_view) { refresh(); });
  if (session_.hotKeys) bindingToken_ = session_.hotKeys->addBindingObserver([this] { showHotKeys(); });
}

SettingsWindow::~SettingsWindow() {
  detach();
}

void SettingsWindow::detach() {
  if (observerToken_) store_.removeObserver(std::exchange(observerToken_, 0));
  if (bindingToken_) session_.hotKeys->removeBindingObserver(std::exchange(bindingToken_, 0));
}

// The keys the desktop bound, or why a key does nothing.
void SettingsWindow::showHotKeys() {
  namespace t = settings_texts;
  if (!session_.hotKeys) return;
  napKey_->setText(q(hotKeyRowText(session_.hotKeys->napKeyBinding(), t::kNapHotKeyValue)));
  islandKey_->setText(q(hotKeyRowText(session_.hotKeys->islandKeyBinding(), t::kIslandHotKeyValue)));
}

QCheckBox* SettingsWindow::addToggle(QVBoxLayout* layout, const std::string& text,
                                     std::function<void(bool)> onChange) {
  auto* box = new QCheckBox(q(text));
  box->setObjectName(q(text));
  layout->addWidget(box);
  connect(box, &QCheckBox::toggled, this, [this, onChange = std::move(onChange)](bool on) {
    if (refreshing_) return;
    onChange(on);
    refresh();
  });
  return box;
}

QLabel* SettingsWindow::addCaption(QVBoxLayout* layout, const std::string& text) {
  auto* label = new QLabel(q(text));
  label->setWordWrap(true);
  QFont font = label->font();
  font.setPointSizeF(font.pointSizeF() * 0.85);
  label->setFont(font);
  label->setForegroundRole(QPalette::PlaceholderText);
  layout->addWidget(label);
  return label;
}

void SettingsWindow::build() {
  namespace t = settings_texts;
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  auto* scroll = new QScrollArea;
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  outer->addWidget(scroll);
  auto* content = new QWidget;
  auto* page = new QVBoxLayout(content);
  scroll->setWidget(content);

  // 1. Waking from a nap
  auto* waking = addSection(page, t::kWakingSection);
  auto* group = new QButtonGroup(this);
  justWake_ = new QRadioButton(q(t::kJustWake));
  authWake_ = new QRadioButton(q(t::kAuthWake));
  justWake_->setAccessibleDescription(q(t::kWakeRequires));  // the picker's label is hidden
  for (auto* b : {justWake_, authWake_}) {
    group->addButton(b);
    waking->addWidget(b);
  }
  connect(authWake_, &QRadioButton::toggled, this, [this](bool on) {
    if (refreshing_) return;
    model_->setWakeRequiresAuth(on);
  });
  if (!session_.passwordProtects) {
    // The stored choice stays for X11 sessions; here the nap wakes without asking.
    authWake_->setEnabled(false);
    addCaption(waking, t::kPasswordCannotProtect)->setObjectName("passwordNotice");
  }

  // 2. Notch island
  auto* island = addSection(page, t::kIslandSection);
  island_ = addToggle(island, model_->showsNotchSwitch() ? t::kShowInNotch : t::kShowFloating,
                      [this](bool on) { model_->setIslandSwitch(on); });
  if (!model_->showsNotchSwitch()) addCaption(island, t::kNoNotchCaption);
  hover_ = addToggle(island, t::kExpandOnHover, [this](bool on) { model_->setOpenOnHover(on); });
  cat_ = addToggle(island, t::kShowCat, [this](bool on) { model_->setShowsCat(on); });

  // 3. Agent Watch
  auto* agents = addSection(page, t::kAgentSection);
  agentWatch_ = addToggle(agents, t::kWatchAgents, [this](bool on) { model_->setAgentWatch(on); });
  const std::pair<std::string, std::string_view> rows[] = {{t::kKeepAwake, prefs::kAgentKeepAwake},
                                                           {t::kBatteryGuard, prefs::kBatteryGuard},
                                                           {t::kShowSnippets, prefs::kAgentShowSnippets},
                                                           {t::kOpensIsland, prefs::kAgentOpensIsland},
                                                           {t::kPlaySounds, prefs::kAgentQuietSound}};
  for (const auto& [text, key] : rows) {
    auto* box = addToggle(agents, text, [this, key = key](bool on) { model_->setAgentSwitch(key, on); });
    agentRows_.emplace_back(box, std::string(key));
    if (key == prefs::kBatteryGuard) batteryGuard_ = box;
  }
  addCaption(agents, t::kSoundsCaption);
  addCaption(agents, t::kAgentCaption);

  // 4. Notch approvals
  auto* approvals = addSection(page, t::kApprovalsSection);
  approvals_ = addToggle(approvals, t::kApproveFromNotch, [this](bool on) { model_->setNotchApprovals(on); });
  approvalsError_ = new QLabel;
  approvalsError_->setWordWrap(true);
  approvalsError_->setStyleSheet("color: #c0392b;");
  approvals->addWidget(approvalsError_);
  addCaption(approvals, t::kApprovalsCaption);
  codexApprovals_ =
      addToggle(approvals, t::kApproveCodex, [this](bool on) { model_->setCodexApprovals(on); });
  codexApprovalsError_ = new QLabel;
  codexApprovalsError_->setWordWrap(true);
  codexApprovalsError_->setStyleSheet("color: #c0392b;");
  approvals->addWidget(codexApprovalsError_);
  addCaption(approvals, t::kCodexApprovalsCaption);

  // 5. Claude usage
  auto* usage = addSection(page, t::kUsageSection);
  usage_ = addToggle(usage, t::kShowUsage, [this](bool on) { model_->setUsageTracking(on); });
  addCaption(usage, t::kUsageCaption);

  // 6. Untitled: login item, hot keys, tour
  auto* general = new QVBoxLayout;
  page->addLayout(general);
  login_ = addToggle(general, t::kStartAtLogin, [this](bool on) { model_->setLaunchAtLogin(on); });
  loginError_ = new QLabel;
  loginError_->setWordWrap(true);
  loginError_->setStyleSheet("color: #c0392b;");
  general->addWidget(loginError_);
  auto* keys = new QFormLayout;
  napKey_ = new QLabel(q(t::kNapHotKeyValue));
  napKey_->setObjectName("napHotKey");
  napKey_->setWordWrap(true);
  islandKey_ = new QLabel(q(t::kIslandHotKeyValue));
  islandKey_->setObjectName("islandHotKey");
  islandKey_->setWordWrap(true);
  keys->addRow(q(t::kNapHotKeyLabel), napKey_);
  keys->addRow(q(t::kIslandHotKeyLabel), islandKey_);
  general->addLayout(keys);
  showHotKeys();
  if (!session_.notice.empty()) addCaption(general, session_.notice)->setObjectName("sessionNotice");
  auto* tour = new QPushButton(q(t::kShowTourAgain));
  tour->setObjectName(q(t::kShowTourAgain));
  connect(tour, &QPushButton::clicked, this, [this] { model_->showWelcomeTour(); });
  general->addWidget(tour, 0, Qt::AlignLeft);

  // 7. Footer
  auto* footer = new QLabel(q(t::kFooter));
  QFont font = footer->font();
  font.setPointSizeF(font.pointSizeF() * 0.85);
  font.setWeight(QFont::DemiBold);
  footer->setFont(font);
  page->addWidget(footer, 0, Qt::AlignHCenter);
  page->addStretch(1);
}

void SettingsWindow::refresh() {
  refreshing_ = true;
  const bool auth = model_->wakeRequiresAuth();
  // Where the password cannot be asked, the window shows what a nap really does.
  authWake_->setChecked(auth && session_.passwordProtects);
  justWake_->setChecked(!auth || !session_.passwordProtects);
  island_->setChecked(model_->islandSwitch());
  hover_->setChecked(model_->openOnHover());
  cat_->setChecked(model_->showsCat());
  agentWatch_->setChecked(model_->agentWatch());
  for (auto& [box, key] : agentRows_) {
    box->setChecked(model_->agentSwitch(key));
    box->setEnabled(box == batteryGuard_ ? model_->batteryGuardEnabled() : model_->agentRowsEnabled());
  }
  approvals_->setChecked(model_->notchApprovals());
  approvals_->setEnabled(model_->approvalsAvailable());
  approvalsError_->setText(q(model_->approvalsError().value_or("")));
  approvalsError_->setVisible(model_->approvalsError().has_value());
  codexApprovals_->setChecked(model_->codexApprovals());
  codexApprovals_->setEnabled(model_->codexApprovalsAvailable());
  const auto codexError = model_->codexApprovalsError();
  codexApprovalsError_->setText(q(codexError.value_or("")));
  codexApprovalsError_->setVisible(codexError.has_value());
  usage_->setChecked(model_->usageTracking());
  login_->setChecked(model_->launchAtLogin());
  loginError_->setText(q(model_->loginItemError().value_or("")));
  loginError_->setVisible(model_->loginItemError().has_value());
  refreshing_ = false;
}

}  // namespace tovami::linux_backend
