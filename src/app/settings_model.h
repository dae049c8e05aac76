// The settings window's behaviour, independent of any toolkit: what each switch writes, what
// it calls, which rows are enabled, and the two error texts it may show.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/app_services.h"

namespace tovami {

class PreferenceStore;
class LoginItemService;

class SettingsModel {
 public:
  SettingsModel(PreferenceStore& store, LoginItemService& loginItems, AppServices services,
                bool someDisplayHasCameraHousing, std::function<void()> showWelcomeTour);

  // Section 1
  bool wakeRequiresAuth() const;
  void setWakeRequiresAuth(bool auth);

  // Section 2: one of the two island switches is shown, depending on the displays.
  bool showsNotchSwitch() const { return hasCameraHousing_; }
  bool islandSwitch() const;
  void setIslandSwitch(bool on);
  bool openOnHover() const;
  void setOpenOnHover(bool on);
  bool showsCat() const;
  void setShowsCat(bool on);

  // Section 3
  bool agentWatch() const;
  void setAgentWatch(bool on);
  bool agentSwitch(std::string_view key) const;  // keep-awake, battery guard, snippets, opens island, sounds
  void setAgentSwitch(std::string_view key, bool on);
  bool agentRowsEnabled() const;
  bool batteryGuardEnabled() const;

  // Section 4
  // False in builds without the hook installer: the switch is shown disabled.
  bool approvalsAvailable() const { return static_cast<bool>(services_.hookInstaller); }
  bool notchApprovals() const;
  void setNotchApprovals(bool on);
  // The last switch's failure, else why the launch could not install the hook.
  std::optional<std::string> approvalsError() const;
  bool codexApprovalsAvailable() const { return static_cast<bool>(services_.codexHookInstaller); }
  bool codexApprovals() const;
  void setCodexApprovals(bool on);
  std::optional<std::string> codexApprovalsError() const;

  // Section 5
  bool usageTracking() const;
  void setUsageTracking(bool on);
  // Claude Code's status line feeds the meter and the rows; it needs the socket like approvals.
  bool statusLineFeedAvailable() const { return static_cast<bool>(services_.statusLineInstaller); }
  bool statusLineFeed() const;
  void setStatusLineFeed(bool on);
  std::optional<std::string> statusLineFeedError() const;

  // Claude Code's phone pushes only while the user is away (napping, screen locked).
  bool phonePushAvailable() const { return static_cast<bool>(services_.phonePush); }
  bool phonePushWhileAway() const;
  void setPhonePushWhileAway(bool on);
  std::optional<std::string> phonePushError() const;

  // Section 6
  bool launchAtLogin() const { return launchAtLogin_; }
  void setLaunchAtLogin(bool on);
  const std::optional<std::string>& loginItemError() const { return loginItemError_; }
  // Reads the login item again (a kept window, shown again).
  void reloadLaunchAtLogin();
  void showWelcomeTour();

 private:
  PreferenceStore& store_;
  LoginItemService& loginItems_;
  AppServices services_;
  bool hasCameraHousing_;
  std::function<void()> showWelcomeTour_;
  bool launchAtLogin_;
  std::optional<std::string> loginItemError_;
  std::optional<std::string> approvalsError_;
  std::optional<std::string> codexApprovalsError_;
  std::optional<std::string> statusLineFeedError_;
  std::optional<std::string> phonePushError_;

  // The server listens only while a switch is on, and a hook goes in only once it listens.
  void switchApprovals(std::string_view key, const std::function<HookInstallControl*()>& hooks, bool on,
                       std::optional<std::string>& error);
  std::optional<std::string> approvalsErrorOf(std::string_view key,
                                              const std::function<HookInstallControl*()>& hooks,
                                              const std::optional<std::string>& switchError) const;
};

}  // namespace tovami
