#include "app/settings_model.h"

#include "app/preference_keys.h"
#include "app/settings_texts.h"
#include "platform/login_item.h"
#include "platform/preferences_store.h"

namespace tovami {

SettingsModel::SettingsModel(PreferenceStore& store, LoginItemService& loginItems, AppServices services,
                             bool someDisplayHasCameraHousing, std::function<void()> showWelcomeTour)
    : store_(store),
      loginItems_(loginItems),
      services_(std::move(services)),
      hasCameraHousing_(someDisplayHasCameraHousing),
      showWelcomeTour_(std::move(showWelcomeTour)),
      launchAtLogin_(loginItems.isEnabled()) {}

bool SettingsModel::wakeRequiresAuth() const {
  return wakeRequiresAuthentication(store_);
}

void SettingsModel::setWakeRequiresAuth(bool auth) {
  store_.setString(prefs::kWakeRequirement, auth ? prefs::kWakeAuth : prefs::kWakeNone);
}

bool SettingsModel::islandSwitch() const {
  return hasCameraHousing_ ? store_.boolValue(prefs::kIslandEnabled)
                           : store_.boolValue(prefs::kIslandOnNonNotch);
}

void SettingsModel::setIslandSwitch(bool on) {
  store_.setBool(hasCameraHousing_ ? prefs::kIslandEnabled : prefs::kIslandOnNonNotch, on);
  if (services_.island) services_.island()->refresh();
}

bool SettingsModel::openOnHover() const {
  return boolOr(store_, prefs::kIslandOpenOnHover, true);
}
void SettingsModel::setOpenOnHover(bool on) {
  store_.setBool(prefs::kIslandOpenOnHover, on);
}
bool SettingsModel::showsCat() const {
  return boolOr(store_, prefs::kIslandShowsCat, true);
}
void SettingsModel::setShowsCat(bool on) {
  store_.setBool(prefs::kIslandShowsCat, on);
}

bool SettingsModel::agentWatch() const {
  return boolOr(store_, prefs::kAgentWatchEnabled, true);
}

void SettingsModel::setAgentWatch(bool on) {
  applyServiceSwitch(store_, prefs::kAgentWatchEnabled, on,
                     services_.agentWatcher ? services_.agentWatcher() : nullptr);
}

bool SettingsModel::agentSwitch(std::string_view key) const {
  // The battery guard is off by default; the other agent switches are seeded on.
  return boolOr(store_, key, key != prefs::kBatteryGuard);
}

void SettingsModel::setAgentSwitch(std::string_view key, bool on) {
  store_.setBool(key, on);
}

bool SettingsModel::agentRowsEnabled() const {
  return agentWatch();
}

bool SettingsModel::batteryGuardEnabled() const {
  return agentRowsEnabled() && agentSwitch(prefs::kAgentKeepAwake);
}

bool SettingsModel::notchApprovals() const {
  return store_.boolValue(prefs::kNotchApprovals);
}

void SettingsModel::setNotchApprovals(bool on) {
  switchApprovals(prefs::kNotchApprovals, services_.hookInstaller, on, approvalsError_);
}

std::optional<std::string> SettingsModel::approvalsError() const {
  return approvalsErrorOf(prefs::kNotchApprovals, services_.hookInstaller, approvalsError_);
}

bool SettingsModel::codexApprovals() const {
  return store_.boolValue(prefs::kCodexApprovals);
}

void SettingsModel::setCodexApprovals(bool on) {
  switchApprovals(prefs::kCodexApprovals, services_.codexHookInstaller, on, codexApprovalsError_);
}

std::optional<std::string> SettingsModel::codexApprovalsError() const {
  return approvalsErrorOf(prefs::kCodexApprovals, services_.codexHookInstaller, codexApprovalsError_);
}

void SettingsModel::switchApprovals(std::string_view key, const std::function<HookInstallControl*()>& hooks,
                                    bool on, std::optional<std::string>& error) {
  error.reset();
  HookInstallControl* installer = hooks ? hooks() : nullptr;
  StartStopControl* server = services_.approvalServer ? services_.approvalServer() : nullptr;
  if (on) {
    store_.setBool(key, true);
    if (server) server->start();
    if (installer && installer->install()) return;
    error = (installer ? installer->failureText() : std::nullopt).value_or(settings_texts::kApprovalsError);
  } else if (installer && !installer->remove()) {
    // The switch goes off all the same (the server ignores that agent from now on), and says why
    // its entry is still in the agent's file.
    error = installer->failureText().value_or(settings_texts::kApprovalsError);
  }
  store_.setBool(key, false);
  if (server && !store_.boolValue(prefs::kNotchApprovals) && !store_.boolValue(prefs::kCodexApprovals) &&
      !store_.boolValue(prefs::kStatusLineFeed))
    server->stop();
}

std::optional<std::string> SettingsModel::approvalsErrorOf(
    std::string_view key, const std::function<HookInstallControl*()>& hooks,
    const std::optional<std::string>& switchError) const {
  if (switchError) return switchError;
  if (!store_.boolValue(key) || !hooks) return std::nullopt;
  return hooks()->failureText();
}

bool SettingsModel::usageTracking() const {
  return boolOr(store_, prefs::kUsageTracking, true);
}

void SettingsModel::setUsageTracking(bool on) {
  applyServiceSwitch(store_, prefs::kUsageTracking, on,
                     services_.usageTracker ? services_.usageTracker() : nullptr);
}

bool SettingsModel::statusLineFeed() const {
  return store_.boolValue(prefs::kStatusLineFeed);
}

void SettingsModel::setStatusLineFeed(bool on) {
  switchApprovals(prefs::kStatusLineFeed, services_.statusLineInstaller, on, statusLineFeedError_);
}

std::optional<std::string> SettingsModel::statusLineFeedError() const {
  return approvalsErrorOf(prefs::kStatusLineFeed, services_.statusLineInstaller, statusLineFeedError_);
}

bool SettingsModel::phonePushWhileAway() const {
  return store_.boolValue(prefs::kPhonePushWhileAway);
}

void SettingsModel::setPhonePushWhileAway(bool on) {
  phonePushError_.reset();
  HookInstallControl* entry = services_.phonePush ? services_.phonePush() : nullptr;
  if (on) {
    store_.setBool(prefs::kPhonePushWhileAway, true);
    if (entry && entry->install()) return;
    phonePushError_ = (entry ? entry->failureText() : std::nullopt).value_or(settings_texts::kApprovalsError);
  } else if (entry && !entry->remove()) {
    phonePushError_ = entry->failureText().value_or(settings_texts::kApprovalsError);
  }
  store_.setBool(prefs::kPhonePushWhileAway, false);
}

std::optional<std::string> SettingsModel::phonePushError() const {
  return approvalsErrorOf(prefs::kPhonePushWhileAway, services_.phonePush, phonePushError_);
}

void SettingsModel::setLaunchAtLogin(bool on) {
  if (auto error = loginItems_.setEnabled(on)) {
    launchAtLogin_ = loginItems_.isEnabled();
    loginItemError_ = settings_texts::kLoginItemErrorPrefix + *error;
    return;
  }
  launchAtLogin_ = on;
  loginItemError_.reset();
}

void SettingsModel::reloadLaunchAtLogin() {
  launchAtLogin_ = loginItems_.isEnabled();
}

void SettingsModel::showWelcomeTour() {
  if (showWelcomeTour_) showWelcomeTour_();
}

}  // namespace tovami
