#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "app/preference_keys.h"
#include "backend/gui_application.h"
#include "linux/app/other_machines_page.h"
#include "remote/remote_host_states.h"
#include "support/memory_preferences.h"

namespace tovami::linux_backend {
namespace {

// The hosts typed one a line are stored with commas; each gets its switch and its link's words;
// "Connect now" stores the list and asks the links to try at once.
TEST(OtherMachinesPage, StoresTheHostsAndShowsEachOnesSwitchAndState) {
  ensureGuiApplication();
  testing::MemoryPreferences prefs;
  prefs.setString(prefs::kRemoteHosts, "devbox");
  int connects = 0;
  remote::hostStates().connectNow = [&] { ++connects; };
  OtherMachinesPage page(prefs);
  EXPECT_EQ(page.findChild<QPlainTextEdit*>("remoteHosts")->toPlainText(), "devbox");
  page.findChild<QPlainTextEdit*>("remoteHosts")->setPlainText("devbox\n  gpu \n\ndevbox\n");
  page.findChild<QPushButton*>("Connect now")->click();
  EXPECT_EQ(prefs.stringValue(prefs::kRemoteHosts), "devbox,gpu");
  EXPECT_EQ(page.findChild<QPlainTextEdit*>("remoteHosts")->toPlainText(), "devbox\ngpu");  // as stored
  EXPECT_EQ(connects, 1);
  remote::hostStates().set("gpu", "permission denied");
  QCoreApplication::processEvents();
  ASSERT_TRUE(page.findChild<QLabel*>("state of gpu"));
  EXPECT_EQ(page.findChild<QLabel*>("state of gpu")->text(), "gpu: permission denied");
  EXPECT_EQ(page.findChild<QLabel*>("state of devbox")->text(), "devbox: not connected");
  page.findChild<QCheckBox*>("Approvals from gpu")->click();
  QCoreApplication::processEvents();
  EXPECT_EQ(prefs.stringValue(prefs::kRemoteApprovalHosts), "gpu");
  EXPECT_TRUE(page.findChild<QCheckBox*>("Approvals from gpu")->isChecked());
  page.findChild<QCheckBox*>("Approvals from gpu")->click();
  EXPECT_EQ(prefs.stringValue(prefs::kRemoteApprovalHosts), "");
  remote::hostStates().connectNow = nullptr;
  remote::hostStates().erase("gpu");
}

}  // namespace
}  // namespace tovami::linux_backend
