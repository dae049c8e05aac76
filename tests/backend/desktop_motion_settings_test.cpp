#include <gtest/gtest.h>

#include <QDBusVariant>

#include "linux/nap/desktop_motion_settings.h"

namespace tovami::linux_backend {
namespace {

TEST(DesktopMotionSettings, ReadsTheAnimationSwitchHoweverDeeplyThePortalWrapsIt) {
  using S = DesktopMotionSettings;
  EXPECT_EQ(S::animationsFromPortalReply(QVariant::fromValue(QDBusVariant(false))), false);
  const QVariant twice = QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(true))));
  EXPECT_EQ(S::animationsFromPortalReply(twice), true);
  EXPECT_EQ(S::animationsFromPortalReply(QVariant::fromValue(QDBusVariant(QString("false")))), std::nullopt);
  EXPECT_EQ(S::animationsFromPortalReply(QVariant()), std::nullopt);

  EXPECT_EQ(S::animationsFromGsettingsOutput("false\n"), false);
  EXPECT_EQ(S::animationsFromGsettingsOutput("true\n"), true);
  EXPECT_EQ(S::animationsFromGsettingsOutput("No such schema\n"), std::nullopt);
  EXPECT_EQ(S::animationsFromGsettingsOutput(""), std::nullopt);
}

}  // namespace
}  // namespace tovami::linux_backend
