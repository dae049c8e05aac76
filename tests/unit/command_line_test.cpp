#include "app/command_line.h"

#include <gtest/gtest.h>

#include "app/camera_housing_setting.h"
#include "app/display_session.h"

namespace tovami {
namespace {

using Args = std::vector<std::string>;
using Kind = LaunchRequest::Kind;

TEST(CommandLine, OneShotSwitchesTakeTheNextArgumentInTableOrderAndNeedAValue) {
  const std::pair<Args, LaunchRequest> cases[] = {
      {{"tovami"}, {Kind::runApp, {}}},
      {{"tovami", "--render-overlay", "out.png"}, {Kind::oneShot, {"--render-overlay", "out.png"}}},
      // Both render switches: the island comes first in the table.
      {{"tovami", "--render-overlay", "a.png", "--render-island", "b.png"},
       {Kind::oneShot, {"--render-island", "b.png"}}},
      {{"tovami", "--warp-jump", "--dump-ax"}, {Kind::oneShot, {"--warp-jump", "--dump-ax"}}},
      {{"tovami", "--dump-ax", "Terminal", "--render-overlay"}, {Kind::oneShot, {"--dump-ax", "Terminal"}}},
      {{"--list-agents", "json"}, {Kind::oneShot, {"--list-agents", "json"}}},  // the program name counts
      {{"tovami", "--list-agents"}, {Kind::missingValue, {"--list-agents", ""}}},
      {{"tovami", "--list-agents", "json", "--show-tour"}, {Kind::oneShot, {"--list-agents", "json"}}},
      {{"tovami", "--show-tour"}, {Kind::runApp, {}}},
      {{"tovami", "--remote-stream"}, {Kind::remoteStream, {}}},
      {{"tovami", "--remote-stream", "x"}, {Kind::unknownSwitch, {"x", ""}}},
      // Anything the table does not know is refused, not left to start the tray program.
      {{"tovami", "--bogus"}, {Kind::unknownSwitch, {"--bogus", ""}}},
      {{"tovami", "--render-overlay=out.png", "x"}, {Kind::unknownSwitch, {"--render-overlay=out.png", ""}}},
      {{"tovami", "--list-agents", "json", "stray"}, {Kind::unknownSwitch, {"stray", ""}}},
      {{"tovami", "-platform", "offscreen"}, {Kind::unknownSwitch, {"-platform", ""}}},
      {{"tovami", "--bogus", "--help"}, {Kind::help, {}}},
      {{"tovami", "--list-agents", "json", "--help"}, {Kind::help, {}}},
      {{"tovami", "--version", "--list-agents"}, {Kind::version, {}}},
  };
  for (const auto& [args, expected] : cases)
    EXPECT_EQ(parseCommandLine(args), expected) << ::testing::PrintToString(args);
  EXPECT_TRUE(wantsShowTour({"tovami", "--show-tour", "x"}));
  EXPECT_FALSE(wantsShowTour({"tovami", "--show-tour=1"}));
}

// "--socket PATH" qualifies "--hook" only: the installed hooks name the approval socket with it.
TEST(CommandLine, TheHookTakesTheSocketItIsGiven) {
  const auto hook = [](std::optional<std::string> socket) {
    return LaunchRequest{Kind::oneShot, {"--hook", "permission-request", std::move(socket)}};
  };
  const std::pair<Args, LaunchRequest> cases[] = {
      {{"tovami", "--hook", "permission-request"}, hook(std::nullopt)},  // an entry written before
      {{"tovami", "--hook", "permission-request", "--socket", "/run/a b/agent.sock"},
       hook("/run/a b/agent.sock")},
      {{"tovami", "--socket", "/s", "--hook", "permission-request"}, hook("/s")},
      {{"tovami", "--hook", "permission-request", "--socket", "rel"}, hook("rel")},  // refused by the client
      {{"tovami", "--hook", "permission-request", "--socket", "/a", "--socket", "/b"}, hook("/a")},
      {{"tovami", "--hook", "permission-request", "--socket"}, {Kind::missingValue, {"--socket", ""}}},
      {{"tovami", "--socket", "/s"}, {Kind::misplacedSwitch, {"--socket", ""}}},
      {{"tovami", "--list-agents", "json", "--socket", "/s"}, {Kind::misplacedSwitch, {"--socket", ""}}},
      {{"tovami", "--warp-jump", "--socket"}, {Kind::oneShot, {"--warp-jump", "--socket"}}},  // a value
      {{"tovami", "--hook", "notification", "--socket", "/s", "stray"}, {Kind::unknownSwitch, {"stray", ""}}},
  };
  for (const auto& [args, expected] : cases)
    EXPECT_EQ(parseCommandLine(args), expected) << ::testing::PrintToString(args);
  EXPECT_NE(usageText({}).find("  --socket PATH"), std::string::npos) << usageText({});
}

TEST(CommandLine, UsageMarksTheSwitchesThisBuildLacks) {
  const std::string usage = usageText({switches::kDumpAx});
  EXPECT_NE(usage.find("accessibility tree and end (not in this build)"), std::string::npos) << usage;
  EXPECT_EQ(usage.find("PNG file and end (not"), std::string::npos) << usage;
}

// X11 wherever a display exists (XWayland included); a Wayland session is said so; no display at all
// still runs, without a window system.
TEST(DisplaySession, PrefersX11AndNamesWhatAWaylandSessionLacks) {
  const struct { SessionEnvironment environment; std::string platform; bool wayland, x11; } cases[] = {
      {{":0", "", "x11", ""}, "xcb", false, true},
      {{":0", "wayland-0", "wayland", ""}, "xcb", true, true},
      {{":0", "", "", "offscreen"}, "", false, false},  // the user's own choice stands
      {{"", "wayland-0", "wayland", ""}, "wayland;offscreen", true, false},
      {{"", "", "tty", ""}, "offscreen", false, false},
  };
  for (const auto& c : cases) {
    const auto session = chooseDisplaySession(c.environment);
    EXPECT_EQ(session.qtPlatform, c.platform) << c.environment.display << c.environment.waylandDisplay;
    EXPECT_EQ(session.wayland, c.wayland) << c.platform;
    EXPECT_EQ(session.x11, c.x11) << c.platform;
    EXPECT_EQ(displaySessionNotice(c.wayland, c.x11, true).empty(), c.x11 && !c.wayland);
  }
}

TEST(CameraHousingSetting, ReadsWidthByHeightAndRefusesTheRest) {
  EXPECT_EQ(parseCameraHousing("200x32"), (Size{200, 32}));
  EXPECT_EQ(parseCameraHousing("185.5X37"), (Size{185.5, 37}));
  for (const char* malformed : {"", "200x", "200x32x4", " 200x32", "-200x32", "200x0", "nanx32", "20000x32"})
    EXPECT_EQ(parseCameraHousing(malformed), std::nullopt) << malformed;
}

}  // namespace
}  // namespace tovami
