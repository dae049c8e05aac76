#include "linux/app/settings_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "app/hot_key_texts.h"
#include "app/preference_keys.h"
#include "app/settings_texts.h"
#include "linux/app/other_machines_page.h"
#include "platform/preferences_store.h"

namespace tovami::linux_backend {
namespace {

QString q(const std::string& s) {
  return QString::fromStdString(s);
}

// The first sentence and the rest ("" when it is one sentence).
std::pair<std::string, std::string> firstSentence(const std::string& text) {
  const size_t end = text.find(". ");
  if (end == std::string::npos) return {text, ""};
  return {text.substr(0, end + 1), text.substr(end + 2)};
}

QFont scaled(QFont font, double factor, QFont::Weight weight = QFont::Normal) {
  font.setPointSizeF(font.pointSizeF() * factor);
  font.setWeight(weight);
  return font;
}

}  // namespace

SettingsWindow::SettingsWindow(std::unique_ptr<SettingsModel> model, PreferenceStore& store,
                               SettingsSessionFacts session)
    : model_(std::move(model)), store_(store), session_(std::move(session)) {
  namespace t = settings_texts;
  setWindowTitle("Tovami Settings");
  setObjectName("TovamiSettings");
  auto* outer = new QHBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  pages_ = new QListWidget;
  pages_->setObjectName(kPageListName);
  pages_->setAccessibleName("Pages");
  pages_->setFixedWidth(150);
  pages_->setFrameShape(QFrame::NoFrame);
  pages_->setStyleSheet("QListWidget { padding-top: 8px; } QListWidget::item { padding: 4px 8px; }");
  stack_ = new QStackedWidget;
  outer->addWidget(pages_);
  outer->addWidget(stack_, 1);
  connect(pages_, &QListWidget::currentRowChanged, stack_, &QStackedWidget::setCurrentIndex);

  const struct {
    const std::string& title;
    const std::string& heading;
    PageBuilder build;
  } pages[] = {{t::kNapPage, t::kWakingSection, &SettingsWindow::buildNap},
               {t::kIslandPage, t::kIslandSection, &SettingsWindow::buildIsland},
               {t::kAgentsPage, t::kAgentSection, &SettingsWindow::buildAgents},
               {t::kApprovalsPage, t::kApprovalsSection, &SettingsWindow::buildApprovals},
               {t::kUsagePage, t::kUsageSection, &SettingsWindow::buildUsage},
               {t::kOtherMachinesPage, t::kOtherMachinesPage, &SettingsWindow::buildOtherMachines},
               {t::kGeneralPage, t::kGeneralPage, &SettingsWindow::buildGeneral}};
  for (const auto& page : pages) addPage(page.title, page.heading, page.build);
  pages_->setCurrentRow(0);

  refresh();
  fitToContent();
  qApp->installEventFilter(this);
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

void SettingsWindow::showEvent(QShowEvent* event) {
  // What the preferences do not tell: the login item and the hooks' last failures.
  if (observerToken_) {
    model_->reloadLaunchAtLogin();
    refresh();
  }
  QWidget::showEvent(event);
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
  if (quitting_) return QWidget::closeEvent(event);
  event->ignore();
  hide();
}

bool SettingsWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Quit && watched == qApp) quitting_ = true;
  return false;
}

void SettingsWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier)
    close();
  else
    QWidget::keyPressEvent(event);
}

void SettingsWindow::addPage(const std::string& title, const std::string& heading, PageBuilder build) {
  auto* page = new QWidget;
  page->setObjectName(q(title));
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(18, 14, 18, 14);
  layout->setSpacing(6);
  auto* label = new QLabel(q(heading));
  label->setFont(scaled(label->font(), 1.2, QFont::DemiBold));
  layout->addWidget(label);
  layout->addSpacing(4);
  const int empty = layout->count();
  (this->*build)(layout);
  if (layout->count() == empty) {
    delete page;
    return;
  }
  layout->addStretch(1);
  stack_->addWidget(page);
  pages_->addItem(q(title));
}

// The keys the desktop bound, or why a key does nothing.
void SettingsWindow::showHotKeys() {
  namespace t = settings_texts;
  if (!session_.hotKeys) return;
  napKey_->setText(q(hotKeyRowText(session_.hotKeys->napKeyBinding(), t::kNapHotKeyValue)));
  islandKey_->setText(q(hotKeyRowText(session_.hotKeys->islandKeyBinding(), t::kIslandHotKeyValue)));
}

QCheckBox* SettingsWindow::addSwitch(QVBoxLayout* page, const std::string& text, std::function<bool()> isOn,
                                     std::function<void(bool)> set, std::function<bool()> isEnabled) {
  auto* box = new QCheckBox(q(text));
  box->setObjectName(q(text));
  page->addWidget(box);
  connect(box, &QCheckBox::toggled, this, [this, set = std::move(set)](bool on) {
    if (refreshing_) return;
    set(on);
    refresh();
  });
  rows_.push_back([box, isOn = std::move(isOn), isEnabled = std::move(isEnabled)] {
    box->setChecked(isOn());
    if (isEnabled) box->setEnabled(isEnabled());
  });
  return box;
}

QLabel* SettingsWindow::addError(QVBoxLayout* page, std::function<std::optional<std::string>()> error) {
  auto* label = new QLabel;
  label->setWordWrap(true);
  label->setStyleSheet("color: #c0392b;");
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->hide();
  page->addWidget(label);
  rows_.push_back([this, label, error = std::move(error)] {
    const std::optional<std::string> text = error();
    const QString shown = q(text.value_or(""));
    if (label->text() == shown && label->isHidden() != text.has_value()) return;
    label->setText(shown);
    label->setVisible(text.has_value());
    fitToContent();
  });
  return label;
}

QLabel* SettingsWindow::addCaption(QVBoxLayout* page, const std::string& text) {
  namespace t = settings_texts;
  auto [shown, more] = firstSentence(text);
  auto* label = new QLabel;
  label->setProperty("caption", true);
  label->setWordWrap(true);
  label->setFont(scaled(label->font(), 0.85));
  label->setForegroundRole(QPalette::PlaceholderText);
  if (more.empty()) {
    label->setText(q(text));
  } else {
    label->setTextFormat(Qt::RichText);
    label->setText(q(shown).toHtmlEscaped() + " <a href=\"more\">" + q(t::kMore) + "</a>");
    label->setToolTip(q(text));
    label->setAccessibleDescription(q(text));
    connect(label, &QLabel::linkActivated, this, [this, label, text = q(text)] {
      label->setTextFormat(Qt::PlainText);
      label->setText(text);
      fitToContent();
    });
  }
  page->addWidget(label);
  return label;
}

void SettingsWindow::refresh() {
  refreshing_ = true;
  for (const auto& show : rows_) show();
  refreshing_ = false;
}

void SettingsWindow::fitToContent() {
  const int height = layout()->totalHeightForWidth(kWidth);
  setFixedSize(kWidth, std::max(kMinHeight, height > 0 ? height : layout()->totalSizeHint().height()));
}

void SettingsWindow::buildNap(QVBoxLayout* page) {
  namespace t = settings_texts;
  page->addWidget(new QLabel(q(t::kWakeRequires)));
  auto* group = new QButtonGroup(this);
  auto* justWake = new QRadioButton(q(t::kJustWake));
  auto* authWake = new QRadioButton(q(t::kAuthWake));
  justWake->setAccessibleDescription(q(t::kWakeRequires));
  for (auto* b : {justWake, authWake}) {
    b->setObjectName(b->text());
    group->addButton(b);
    page->addWidget(b);
  }
  connect(authWake, &QRadioButton::toggled, this, [this](bool on) {
    if (refreshing_) return;
    model_->setWakeRequiresAuth(on);
  });
  if (!session_.passwordProtects) {
    // The stored choice stays for X11 sessions; here the nap wakes without asking.
    authWake->setEnabled(false);
    addCaption(page, t::kPasswordCannotProtect)->setObjectName("passwordNotice");
  }
  rows_.push_back([this, justWake, authWake] {
    // Where the password cannot be asked, the window shows what a nap really does.
    const bool auth = model_->wakeRequiresAuth() && session_.passwordProtects;
    authWake->setChecked(auth);
    justWake->setChecked(!auth);
  });
}

void SettingsWindow::buildIsland(QVBoxLayout* page) {
  namespace t = settings_texts;
  SettingsModel* m = model_.get();
  addSwitch(
      page, m->showsNotchSwitch() ? t::kShowInNotch : t::kShowFloating, [m] { return m->islandSwitch(); },
      [m](bool on) { m->setIslandSwitch(on); });
  if (!m->showsNotchSwitch()) addCaption(page, t::kNoNotchCaption);
  addSwitch(
      page, t::kExpandOnHover, [m] { return m->openOnHover(); }, [m](bool on) { m->setOpenOnHover(on); });
  addSwitch(
      page, t::kShowCat, [m] { return m->showsCat(); }, [m](bool on) { m->setShowsCat(on); });
}

void SettingsWindow::buildAgents(QVBoxLayout* page) {
  namespace t = settings_texts;
  SettingsModel* m = model_.get();
  addSwitch(
      page, t::kWatchAgents, [m] { return m->agentWatch(); }, [m](bool on) { m->setAgentWatch(on); });
  const std::pair<std::string, std::string_view> rows[] = {{t::kKeepAwake, prefs::kAgentKeepAwake},
                                                           {t::kBatteryGuard, prefs::kBatteryGuard},
                                                           {t::kShowSnippets, prefs::kAgentShowSnippets},
                                                           {t::kOpensIsland, prefs::kAgentOpensIsland},
                                                           {t::kPlaySounds, prefs::kAgentQuietSound}};
  for (const auto& [text, key] : rows) {
    const bool guard = key == prefs::kBatteryGuard;
    addSwitch(
        page, text, [m, key = key] { return m->agentSwitch(key); },
        [m, key = key](bool on) { m->setAgentSwitch(key, on); },
        [m, guard] { return guard ? m->batteryGuardEnabled() : m->agentRowsEnabled(); });
  }
  addCaption(page, t::kSoundsCaption);
  addCaption(page, t::kAgentCaption);
  page->addSpacing(6);
  addSwitch(
      page, t::kPhonePush, [m] { return m->phonePushWhileAway(); },
      [m](bool on) { m->setPhonePushWhileAway(on); }, [m] { return m->phonePushAvailable(); });
  addError(page, [m] { return m->phonePushError(); });
  addCaption(page, t::kPhonePushCaption);
}

void SettingsWindow::buildApprovals(QVBoxLayout* page) {
  namespace t = settings_texts;
  SettingsModel* m = model_.get();
  addSwitch(
      page, t::kApproveFromNotch, [m] { return m->notchApprovals(); },
      [m](bool on) { m->setNotchApprovals(on); }, [m] { return m->approvalsAvailable(); });
  addError(page, [m] { return m->approvalsError(); });
  addCaption(page, t::kApprovalsCaption);
  page->addSpacing(6);
  addSwitch(
      page, t::kApproveCodex, [m] { return m->codexApprovals(); }, [m](bool on) { m->setCodexApprovals(on); },
      [m] { return m->codexApprovalsAvailable(); });
  addError(page, [m] { return m->codexApprovalsError(); });
  addCaption(page, t::kCodexApprovalsCaption);
}

void SettingsWindow::buildUsage(QVBoxLayout* page) {
  namespace t = settings_texts;
  SettingsModel* m = model_.get();
  addSwitch(
      page, t::kShowUsage, [m] { return m->usageTracking(); }, [m](bool on) { m->setUsageTracking(on); });
  addCaption(page, t::kUsageCaption);
  page->addSpacing(6);
  addSwitch(
      page, t::kStatusLineFeed, [m] { return m->statusLineFeed(); },
      [m](bool on) { m->setStatusLineFeed(on); }, [m] { return m->statusLineFeedAvailable(); });
  addError(page, [m] { return m->statusLineFeedError(); });
  addCaption(page, t::kStatusLineFeedCaption);
}

// The remote hosts' rows go here; the page shows once it has one.
void SettingsWindow::buildOtherMachines(QVBoxLayout* page) {
  page->addWidget(new OtherMachinesPage(store_));
}

void SettingsWindow::buildGeneral(QVBoxLayout* page) {
  namespace t = settings_texts;
  SettingsModel* m = model_.get();
  addSwitch(
      page, t::kStartAtLogin, [m] { return m->launchAtLogin(); }, [m](bool on) { m->setLaunchAtLogin(on); });
  addError(page, [m] { return m->loginItemError(); });
  auto* keys = new QFormLayout;
  keys->setContentsMargins(0, 8, 0, 0);
  napKey_ = new QLabel(q(t::kNapHotKeyValue));
  napKey_->setObjectName("napHotKey");
  napKey_->setWordWrap(true);
  islandKey_ = new QLabel(q(t::kIslandHotKeyValue));
  islandKey_->setObjectName("islandHotKey");
  islandKey_->setWordWrap(true);
  keys->addRow(q(t::kNapHotKeyLabel), napKey_);
  keys->addRow(q(t::kIslandHotKeyLabel), islandKey_);
  page->addLayout(keys);
  showHotKeys();
  if (!session_.notice.empty()) addCaption(page, session_.notice)->setObjectName("sessionNotice");
  page->addSpacing(8);
  auto* tour = new QPushButton(q(t::kShowTourAgain));
  tour->setObjectName(q(t::kShowTourAgain));
  connect(tour, &QPushButton::clicked, this, [this] { model_->showWelcomeTour(); });
  page->addWidget(tour, 0, Qt::AlignLeft);
  auto* footer = new QLabel(q(t::kFooter));
  footer->setFont(scaled(footer->font(), 0.85, QFont::DemiBold));
  footer->setForegroundRole(QPalette::PlaceholderText);
  page->addSpacing(8);
  page->addWidget(footer);
}

}  // namespace tovami::linux_backend
