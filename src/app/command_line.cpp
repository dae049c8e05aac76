#include "app/command_line.h"

#include <algorithm>

namespace tovami {
namespace {

bool contains(const std::vector<std::string>& arguments, std::string_view word) {
  return std::find(arguments.begin(), arguments.end(), word) != arguments.end();
}

template <size_t N>
bool inTable(const std::string_view (&table)[N], std::string_view word) {
  return std::find(std::begin(table), std::end(table), word) != std::end(table);
}

// The first argument that is no switch of the tables and no one-shot switch's value; the program
// name (arguments[0]) is skipped unless it is a one-shot switch itself.
std::optional<std::string> firstUnknownArgument(const std::vector<std::string>& arguments) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (inTable(kOneShotSwitches, arguments[i]) || inTable(kHookOptionSwitches, arguments[i])) {
      ++i;  // its value, whatever it looks like
      continue;
    }
    if (i > 0 && !inTable(kFlagSwitches, arguments[i])) return arguments[i];
  }
  return std::nullopt;
}

// Where the first "--socket" stands that is no other switch's value; nothing when there is none.
std::optional<size_t> socketSwitch(const std::vector<std::string>& arguments) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == switches::kSocket) return i;
    if (inTable(kOneShotSwitches, arguments[i])) ++i;  // its value, whatever it looks like
  }
  return std::nullopt;
}

}  // namespace

std::optional<OneShotRequest> findOneShotSwitch(const std::vector<std::string>& arguments) {
  for (auto name : kOneShotSwitches) {
    for (size_t i = 0; i + 1 < arguments.size(); ++i)
      if (arguments[i] == name) return OneShotRequest{std::string(name), arguments[i + 1]};
  }
  return std::nullopt;
}

LaunchRequest parseCommandLine(const std::vector<std::string>& arguments) {
  using Kind = LaunchRequest::Kind;
  if (contains(arguments, switches::kHelp) || contains(arguments, "-h")) return {Kind::help, {}};
  if (contains(arguments, switches::kVersion)) return {Kind::version, {}};
  if (auto unknown = firstUnknownArgument(arguments)) return {Kind::unknownSwitch, {*unknown, {}}};
  if (const auto socket = socketSwitch(arguments)) {
    if (*socket + 1 == arguments.size()) return {Kind::missingValue, {std::string(switches::kSocket), {}}};
    auto request = findOneShotSwitch(arguments);
    if (!request || request->name != switches::kHook)
      return {Kind::misplacedSwitch, {std::string(switches::kSocket), {}}};
    request->socket = arguments[*socket + 1];
    return {Kind::oneShot, *request};
  }
  if (contains(arguments, switches::kRemoteStream)) return {Kind::remoteStream, {}};
  if (auto request = findOneShotSwitch(arguments)) return {Kind::oneShot, *request};
  // Every other occurrence of a one-shot switch has a value, so only the last argument can lack one.
  if (!arguments.empty()) {
    const auto& last = arguments.back();
    for (auto name : kOneShotSwitches)
      if (last == name) return {Kind::missingValue, {last, {}}};
  }
  return {Kind::runApp, {}};
}

std::string usageText(const std::vector<std::string_view>& unavailable) {
  struct Row {
    std::string_view name, value, text;
  };
  static constexpr Row kRows[] = {
      {switches::kListAgents, "text|json", "print the coding agents running now and end"},
      {switches::kHook, "EVENT", "an agent's hook: pass its notice or permission request to Tovami"},
      {switches::kSocket, "PATH", "with --hook: the approval socket to ask (the installed hooks name it)"},
      {switches::kWrap, "COMMAND", "with --hook status-line: the user's status line command to run"},
      {switches::kRenderOverlay, "FILE", "draw the nap scene into a PNG file and end"},
      {switches::kRenderIsland, "FILE", "draw the island into a PNG file and end"},
      {switches::kDumpAx, "APP", "print an application's accessibility tree and end"},
      {switches::kWarpJump, "TEXT", "bring the Warp tab showing TEXT to the front and end"},
      {switches::kRemoteStream, "", "speak the remote protocol on standard input and output (for ssh)"},
      {switches::kShowTour, "", "show the welcome tour one second after the start"},
      {switches::kHelp, "", "show this text and end (also -h)"},
      {switches::kVersion, "", "show the version and end"},
  };
  std::string text =
      "Usage: tovami [SWITCH]\n"
      "Without a switch Tovami starts in the tray: naps, agent watch and keep-awake.\n\n";
  for (const auto& row : kRows) {
    std::string left = "  " + std::string(row.name);
    if (!row.value.empty()) left += " " + std::string(row.value);
    left.resize(std::max<size_t>(left.size() + 2, 28), ' ');
    text += left + std::string(row.text);
    if (std::find(unavailable.begin(), unavailable.end(), row.name) != unavailable.end())
      text += " (not in this build)";
    text += "\n";
  }
  return text;
}

bool wantsShowTour(const std::vector<std::string>& arguments) {
  return contains(arguments, switches::kShowTour);
}

}  // namespace tovami
