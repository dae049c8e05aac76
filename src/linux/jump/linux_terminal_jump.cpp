#include "linux/jump/linux_terminal_jump.h"

#include <cstdio>
#include <set>

#include "agents/accessibility_walk.h"
#include "agents/terminal_resolution.h"
#include "linux/files/regular_file.h"

namespace tovami::linux_backend {
namespace {

constexpr Seconds kWarpJumpStart = 0.3;
constexpr Seconds kWarpJumpExit = 2.5;

std::string commandName(int32_t pid) {
  std::string name, why;
  if (readRegularFile("/proc/" + std::to_string(pid) + "/comm", 64, name, why) != FileRead::read) return {};
  return name.substr(0, name.find('\n'));
}

// The first process owning a window whose executable is Warp's.
std::optional<TopLevelWindow> findWarpWindow(EwmhWindowActivation& windows) {
  std::set<int32_t> seen;
  for (const auto& window : windows.allWindows()) {
    if (!seen.insert(window.pid).second) continue;
    const TerminalApp* app = terminalAppFor(commandName(window.pid));
    if (app && std::string(app->terminalName) == "Warp") return window;
  }
  return std::nullopt;
}

}  // namespace

LinuxTerminalJump::LinuxTerminalJump(Dispatcher& dispatcher) {
  std::vector<std::shared_ptr<TtyJump>> ttyJumps{
      std::make_shared<TmuxJump>(launcher_, environment_, windows_),
      std::make_shared<RemoteControlJump>(RemoteControlJump::Terminal::kitty, launcher_, environment_,
                                          windows_),
      std::make_shared<RemoteControlJump>(RemoteControlJump::Terminal::wezterm, launcher_, environment_,
                                          windows_)};
  jumper_ = std::make_shared<TerminalJumper>(
      TerminalJumperDependencies{dispatcher, windows_, accessibility_, input_, nullptr, std::move(ttyJumps)});
}

// A jump still running uses the services below: it ends before they do.
LinuxTerminalJump::~LinuxTerminalJump() {
  jumper_->shutDown();
}

int dumpAxTool(const std::string& appName) {
  AtspiAccessibility accessibility(1000);
  const std::string out = dumpAccessibility(appName, accessibility);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return 0;
}

void warpJumpTool(const std::string& query, LinuxTerminalJump& jump, Dispatcher& dispatcher,
                  std::function<void(int)> exit) {
  const auto warp = findWarpWindow(jump.windows());
  if (!warp) {
    std::fputs("Warp not running\n", stdout);
    std::fflush(stdout);
    exit(1);
    return;
  }
  jump.windows().activate(warp->id);
  const int32_t pid = warp->pid;
  auto jumper = jump.jumper().shared_from_this();
  jumper->queue().asyncAfter(kWarpJumpStart, [jumper, pid, query] { jumper->warpJump(pid, query); });
  dispatcher.mainQueue().asyncAfter(kWarpJumpExit, [exit] { exit(0); });
}

}  // namespace tovami::linux_backend
