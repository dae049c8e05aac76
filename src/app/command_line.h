// The one-shot switches that turn the program into a tool that does one thing and ends.
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
inline constexpr std::string_view kShowTour = "--show-tour";
}  // namespace switches

// Every switch that takes a value, in the order they are tried.
inline constexpr std::string_view kOneShotSwitches[] = {switches::kRenderIsland, switches::kRenderOverlay,
                                                        switches::kDumpAx, switches::kWarpJump,
                                                        switches::kListAgents};

struct OneShotRequest {
  std::string name;
  std::string value;
  bool operator==(const OneShotRequest&) const = default;
};

// The first switch, in table order, present as a whole argument with an argument after it.
// The program name (arguments[0]) is searched too. A switch without a value is ignored.
std::optional<OneShotRequest> findOneShotSwitch(const std::vector<std::string>& arguments);

// True when "--show-tour" is present anywhere (no value needed).
bool wantsShowTour(const std::vector<std::string>& arguments);

}  // namespace tovami
