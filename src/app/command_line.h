// The command line: the one-shot switches that turn the program into a tool that does one thing
// and ends, "--help", "--version" and "--show-tour".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovami {

namespace switches {
inline constexpr std::string_view kRenderIsland = "--render-island";
inline constexpr std::string_view kRenderOverlay = "--render-overlay";
inline constexpr std::string_view kDumpAx = "--dump-ax";
inline constexpr std::string_view kWarpJump = "--warp-jump";
inline constexpr std::string_view kListAgents = "--list-agents";
inline constexpr std::string_view kHook = "--hook";
inline constexpr std::string_view kSocket = "--socket";
inline constexpr std::string_view kWrap = "--wrap";
inline constexpr std::string_view kShowTour = "--show-tour";
inline constexpr std::string_view kRemoteStream = "--remote-stream";
inline constexpr std::string_view kHelp = "--help";
inline constexpr std::string_view kVersion = "--version";
}  // namespace switches

// Every switch that takes a value, in the order they are tried.
inline constexpr std::string_view kOneShotSwitches[] = {switches::kRenderIsland, switches::kRenderOverlay,
                                                        switches::kDumpAx, switches::kWarpJump,
                                                        switches::kListAgents, switches::kHook};

// Switches that take a value and only qualify "--hook": "--socket PATH" names the approval socket,
// "--wrap COMMAND" the user's own status line command (main() reads "--hook status-line" itself).
inline constexpr std::string_view kHookOptionSwitches[] = {switches::kSocket, switches::kWrap};

// Every switch that takes no value. An argument in neither table ends the start with an error.
inline constexpr std::string_view kFlagSwitches[] = {switches::kShowTour, switches::kHelp, "-h",
                                                     switches::kVersion, switches::kRemoteStream};

struct OneShotRequest {
  std::string name;
  std::string value;
  // "--hook" only: the value of "--socket" when it was given (the first one), whatever it is.
  std::optional<std::string> socket;
  bool operator==(const OneShotRequest&) const = default;
};

// What a start was asked to do.
struct LaunchRequest {
  enum class Kind { runApp, help, version, oneShot, missingValue, unknownSwitch, misplacedSwitch, remoteStream };
  Kind kind = Kind::runApp;
  // oneShot: the switch and its value; missingValue: the switch only; unknownSwitch: the argument;
  // misplacedSwitch: a switch of kHookOptionSwitches without "--hook".
  OneShotRequest oneShot;
  bool operator==(const LaunchRequest&) const = default;
};

// The first switch, in table order, present as a whole argument with an argument after it.
// The program name (arguments[0]) is searched too.
std::optional<OneShotRequest> findOneShotSwitch(const std::vector<std::string>& arguments);

// "--help" (or "-h") and "--version" anywhere win; then any argument that is neither a switch
// of the tables nor a one-shot switch's value is an error (the toolkit's own arguments too: they
// are not part of this program's interface, and its environment variables do the same); then a
// one-shot switch with its value; a one-shot switch with nothing after it is an error. A switch of
// kHookOptionSwitches needs a value too, and "--hook" beside it.
LaunchRequest parseCommandLine(const std::vector<std::string>& arguments);

// The text "--help" prints: every switch, one a line; `unavailable` ones are marked so.
std::string usageText(const std::vector<std::string_view>& unavailable);

// True when "--show-tour" is present anywhere (no value needed).
bool wantsShowTour(const std::vector<std::string>& arguments);

}  // namespace tovami
