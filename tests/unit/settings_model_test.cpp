#include "app/settings_model.h"

#include <gtest/gtest.h>

#include "app/preference_keys.h"
#include "app/settings_texts.h"
#include "onboarding/onboarding_texts.h"
#include "platform/login_item.h"
#include "support/memory_preferences.h"
#include "support/recording_services.h"

namespace tovami {
namespace {

struct FakeLoginItems : LoginItemService {
  bool enabled = false;
  std::optional<std::string> failure;
  bool isEnabled() const override { return enabled; }
  std::optional<std::string> setEnabled(bool on) override {
    if (failure) return failure;
    enabled = on;
    return std::nullopt;
  }
};

class SettingsModelTest : public ::testing::Test {
 protected:
  testing::MemoryPreferences prefs;
  FakeLoginItems login;
  testing::RecordingServices watcher, usage, server, hook, codexHook, statusLine, island;

  SettingsModel make(bool notch = false) {
    const auto of = [](testing::RecordingServices& fake) { return [&fake] { return &fake; }; };
    const AppServices services{.island = of(island), .agentWatcher = of(watcher), .usageTracker = of(usage),
                               .approvalServer = of(server), .hookInstaller = of(hook),
                               .codexHookInstaller = of(codexHook), .statusLineInstaller = of(statusLine)};
    return SettingsModel(prefs, login, services, notch, nullptr);
  }
};

TEST_F(SettingsModelTest, AgentRowsDependOnTheSwitchesAboveThemAndTheOtherSwitchesWriteThrough) {
  auto model = make();
  EXPECT_TRUE(model.agentRowsEnabled() && model.batteryGuardEnabled());  // defaults: on
  EXPECT_FALSE(model.agentSwitch(prefs::kBatteryGuard));  // off until stored; the others are seeded on
  model.setAgentSwitch(prefs::kAgentKeepAwake, false);
  EXPECT_FALSE(model.batteryGuardEnabled());
  model.setAgentSwitch(prefs::kAgentKeepAwake, true);
  model.setAgentWatch(false);
  EXPECT_FALSE(model.agentRowsEnabled() || model.batteryGuardEnabled());
  model.setAgentWatch(true);
  EXPECT_EQ(watcher.calls, (std::vector<std::string>{"stop", "start"}));

  // The picker and usage switches write through; the login item says why it failed.
  login.failure = "Permission denied";
  model.setLaunchAtLogin(true);
  EXPECT_FALSE(model.launchAtLogin());
  EXPECT_EQ(model.loginItemError(), "Couldn't change this: Permission denied");
  login.failure.reset();
  model.setLaunchAtLogin(true);
  EXPECT_TRUE(model.launchAtLogin() && !model.loginItemError());
  model.setWakeRequiresAuth(true);
  EXPECT_EQ(prefs.stringValue(prefs::kWakeRequirement), "auth");
  model.setWakeRequiresAuth(false);
  EXPECT_EQ(prefs.stringValue(prefs::kWakeRequirement), "none");
  model.setUsageTracking(false);
  model.setUsageTracking(true);
  EXPECT_EQ(usage.calls, (std::vector<std::string>{"stop", "start"}));

  // The island switch follows the displays and refreshes the island.
  model.setIslandSwitch(true);
  EXPECT_TRUE(prefs.boolValue(prefs::kIslandOnNonNotch));
  EXPECT_FALSE(prefs.hasValue(prefs::kIslandEnabled));
  make(true).setIslandSwitch(false);
  EXPECT_TRUE(prefs.hasValue(prefs::kIslandEnabled));
  EXPECT_EQ(island.calls, (std::vector<std::string>{"refresh", "refresh"}));
}

// The server listens only while a switch is stored on, and the hook goes in only once it listens:
// the switch is stored first and taken back when the install fails.
TEST_F(SettingsModelTest, ApprovalSwitchesStartTheServerBeforeTheHookAndStayOffWhenItFails) {
  auto model = make();
  hook.installs = false;
  model.setNotchApprovals(true);
  EXPECT_FALSE(prefs.boolValue(prefs::kNotchApprovals));
  EXPECT_EQ(model.approvalsError(), settings_texts::kApprovalsError);
  EXPECT_EQ(server.calls, (std::vector<std::string>{"start", "stop"}));
  hook.failure = "not listening";  // the installer's own reason wins over the usual text
  model.setNotchApprovals(true);
  EXPECT_EQ(model.approvalsError(), "not listening");

  hook.installs = true;
  hook.failure.reset();
  model.setNotchApprovals(true);
  model.setCodexApprovals(true);
  EXPECT_TRUE(prefs.boolValue(prefs::kNotchApprovals) && prefs.boolValue(prefs::kCodexApprovals));
  EXPECT_FALSE(model.approvalsError() || model.codexApprovalsError());
  codexHook.failure = "the launch's install failed";  // shown while the switch is on
  EXPECT_EQ(model.codexApprovalsError(), "the launch's install failed");

  server.calls.clear();
  hook.removes = false;  // the entry could not be taken out: the switch goes off and says so
  hook.failure = "couldn't take it out";
  model.setNotchApprovals(false);  // Codex still needs the server
  EXPECT_TRUE(server.calls.empty());
  EXPECT_FALSE(prefs.boolValue(prefs::kNotchApprovals));
  EXPECT_EQ(model.approvalsError(), "couldn't take it out");
  model.setStatusLineFeed(true);  // the status line feed keeps the socket too
  model.setCodexApprovals(false);
  EXPECT_FALSE(prefs.boolValue(prefs::kCodexApprovals) || model.codexApprovalsError());
  EXPECT_EQ(codexHook.calls.back(), "remove");
  model.setStatusLineFeed(false);
  EXPECT_EQ(statusLine.calls, (std::vector<std::string>{"install", "remove"}));
  EXPECT_EQ(server.calls, (std::vector<std::string>{"start", "stop"}));

  SettingsModel withoutHooks(prefs, login, AppServices{}, false, nullptr);
  EXPECT_FALSE(withoutHooks.approvalsAvailable() || withoutHooks.codexApprovalsAvailable());
  withoutHooks.setNotchApprovals(true);
  EXPECT_FALSE(prefs.boolValue(prefs::kNotchApprovals));
}

#if !defined(__APPLE__)
// This machine has no notch: no settings or tour text may speak of one.
TEST(SettingsTextsTest, LinuxTextsNeverSpeakOfANotch) {
  namespace s = settings_texts;
  namespace o = tour_texts;
  for (const std::string& text :
       {s::kIslandSection, s::kShowInNotch, s::kNoNotchCaption, s::kShowCat, s::kApprovalsSection,
        s::kApproveFromNotch, s::kApprovalsCaption, s::kApproveCodex, o::kAgentsNote, o::kApprovalsTitle,
        std::string(wording::kIslandMenuItem)})
    EXPECT_EQ(text.find("otch"), std::string::npos) << text;
}
#endif

}  // namespace
}  // namespace tovami
