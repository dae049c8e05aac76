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
  approvalsError_.reset();
  if (on) {
    bool installed = services_.hookInstaller && services_.hookInstaller()->install();
    if (!installed) {
      auto text = services_.hookInstaller ? services_.hookInstaller()->failureText() : std::nullopt;
      approvalsError_ = text.value_or(settings_texts::kApprovalsError);
      return;
    }
    store_.setBool(prefs::kNotchApprovals, true);
    if (services_.approvalServer) services_.approvalServer()->start();
    return;
  }
  if (services_.hookInstaller) services_.hookInstaller()->remove();
  store_.setBool(prefs::kNotchApprovals, false);
  if (services_.approvalServer) services_.approvalServer()->stop();
}

bool SettingsModel::usageTracking() const {
  return boolOr(store_, prefs::kUsageTracking, true);
}

void SettingsModel::setUsageTracking(bool on) {
  applyServiceSwitch(store_, prefs::kUsageTracking, on,
                     services_.usageTracker ? services_.usageTracker() : nullptr);
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

void SettingsModel::showWelcomeTour() {
  if (showWelcomeTour_) showWelcomeTour_();
}

}  // namespace tovami
