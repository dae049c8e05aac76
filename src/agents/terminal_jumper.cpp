#include "agents/terminal_jumper.h"

#include <cstdio>
#include <future>

#include "agents/accessibility_walk.h"
#include "agents/jump_scripts.h"
#include "agents/user_text.h"
#include "platform/log.h"

namespace tovami {
namespace {

constexpr const char* kJumpQueue = "app.tovami.jump";

void logJump(const std::string& message) {
  logInfo(log_categories::kAgentWatch, message);
}

}  // namespace

std::string warpQuery(const AgentSession& session) {
  const std::string& source =
      session.context && session.context->title ? *session.context->title : session.projectName;
  return std::string(user_text::prefixCharacters(source, kWarpQueryCharacters));
}

TerminalJumper::TerminalJumper(TerminalJumperDependencies dependencies)
    : deps_(std::move(dependencies)), queue_(deps_.dispatcher.makeSerialQueue(kJumpQueue)) {}

namespace {

const char* outcomeName(TerminalJumper::Outcome outcome) {
  switch (outcome) {
    case TerminalJumper::Outcome::script:
      return "tab selected by script";
    case TerminalJumper::Outcome::ttyPrecise:
      return "pane selected";
    case TerminalJumper::Outcome::window:
      return "window or tab brought forward";
    case TerminalJumper::Outcome::applicationOnly:
      return "terminal brought forward";
    case TerminalJumper::Outcome::warpPalette:
      return "Warp palette started";
    case TerminalJumper::Outcome::nothing:
      break;
  }
  return "nothing brought forward";
}

}  // namespace

void TerminalJumper::shutDown() {
  if (stopped_) return;
  std::promise<void> drained;
  auto done = drained.get_future();
  queue_->async([this, &drained] {
    stopped_ = true;
    warpStep_.cancel();
    drained.set_value();
  });
  done.wait();
}

void TerminalJumper::jump(const AgentSession& session) {
  if (stopped_) return;
  logJump("jump to the terminal of " + session.agentName + " [" + std::to_string(session.pid) + "] in " +
          session.terminalName.value_or("an unknown terminal"));
  const Seconds start = deps_.dispatcher.clock().uptime();
  queue_->async(weakTask(shared_from_this(), [session, start](TerminalJumper& self) {
    const Outcome outcome = self.jumpNow(session);
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.1f", (self.deps_.dispatcher.clock().uptime() - start) * 1000);
    logJump("jump: [" + std::to_string(session.pid) + "] " + outcomeName(outcome) + " after " + elapsed +
            " ms");
    if (self.observer_) self.observer_(session.pid, outcome);
  }));
}

TerminalJumper::Outcome TerminalJumper::jumpNow(const AgentSession& session) {
  if (session.terminalTTY && session.terminalName && deps_.scripts)
    if (auto script = appleScript(*session.terminalName, "/dev/" + *session.terminalTTY))
      if (deps_.scripts->runScript(*script)) return Outcome::script;

  for (const auto& strategy : deps_.ttyJumps)
    if (strategy && strategy->jump(session)) return Outcome::ttyPrecise;

  if (!session.terminalPID) {
    logJump("jump: no terminal resolved for pid " + std::to_string(session.pid));
    return Outcome::nothing;
  }
  const int32_t terminal = *session.terminalPID;
  // Turning the accessibility bus on changes every program of the desktop for every later
  // session: only the user's own action asks for it (the tour), never a jump.
  const bool trusted = deps_.accessibility.isTrusted();
  if (!trusted)
    logJump("jump: the accessibility bus is off; looking by window titles only (" +
            deps_.accessibility.howToEnable() + ")");
  // The window manager's titles need no permission: the window pass runs either way, and only
  // the tree (tabs, Warp's menu) waits for the accessibility permission.
  if (focusWindow(terminal, session.projectName, deps_.windows, deps_.accessibility)) return Outcome::window;
  const auto windows = deps_.windows.windowsOf(terminal);
  const bool activated = !windows.empty() && deps_.windows.activate(windows.front().id);
  if (!activated)
    logJump("jump: no window of " + session.terminalName.value_or("the terminal") + " [" +
            std::to_string(terminal) + "] could be brought forward");
  if (!trusted || session.terminalName != "Warp")
    return activated ? Outcome::applicationOnly : Outcome::nothing;
  warpStep_.schedule(
      *queue_, kWarpChainDelay,
      weakTask(shared_from_this(), [terminal, query = warpQuery(session)](TerminalJumper& self) {
        self.warpJump(terminal, query);
      }));
  return Outcome::warpPalette;
}

bool TerminalJumper::inFront(int32_t pid, const char* step) {
  if (deps_.windows.frontmostPID() == pid) return true;
  logJump(std::string("jump: Warp is no longer in front; ") + step + " not sent");
  return false;
}

void TerminalJumper::warpJump(int32_t pid, const std::string& query) {
  if (stopped_ || !deps_.accessibility.isTrusted() || query.empty()) return;
  if (!inFront(pid, "Escape")) return;
  deps_.input.pressKey(SyntheticInput::Key::escape);
  auto self = shared_from_this();
  warpStep_.schedule(*queue_, kWarpMenuDelay, weakTask(self, [pid, query](TerminalJumper& jumper) {
    if (!pressMenuItem(pid, "View", "Navigation Palette", jumper.deps_.accessibility)) {
      logJump("jump: Warp has no View > Navigation Palette item");
      return;
    }
    jumper.warpStep_.schedule(
        *jumper.queue_, kWarpTypeDelay, weakTask(jumper.shared_from_this(), [pid, query](TerminalJumper& j) {
          if (!j.inFront(pid, "the query")) return;
          j.deps_.input.typeText(query, pid);
          j.warpStep_.schedule(*j.queue_, kWarpReturnDelay,
                               weakTask(j.shared_from_this(), [pid](TerminalJumper& k) {
                                 if (k.inFront(pid, "Return"))
                                   k.deps_.input.pressKey(SyntheticInput::Key::returnKey);
                               }));
        }));
  }));
}

}  // namespace tovami
