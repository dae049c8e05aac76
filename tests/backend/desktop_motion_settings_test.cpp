#include <gtest/gtest.h>

#include <QDBusVariant>

#include "linux/nap/desktop_motion_settings.h"

namespace tovami::linux_backend {
namespace {

TEST(DesktopMotionSettings, ReadsTheAnimationSwitchHoweverDeeplyThePortalWrapsItAndFromGsettings) {
  using S = DesktopMotionSettings;
  auto wrapped = [](QVariant value) { return QVariant::fromValue(QDBusVariant(value)); };
  EXPECT_EQ(S::animationsFromPortalReply(wrapped(false)), false);
  EXPECT_EQ(S::animationsFromPortalReply(wrapped(wrapped(true))), true);
  EXPECT_EQ(S::animationsFromPortalReply(wrapped(QString("false"))), std::nullopt);
  EXPECT_EQ(S::animationsFromPortalReply(QVariant()), std::nullopt);
  for (const auto& [output, value] : std::vector<std::pair<QByteArray, std::optional<bool>>>{
           {"false\n", false}, {"true\n", true}, {"No such schema\n", std::nullopt}, {"", std::nullopt}})
    EXPECT_EQ(S::animationsFromGsettingsOutput(output), value) << output.constData();
}

}  // namespace
}  // namespace tovami::linux_backend
