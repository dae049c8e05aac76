#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "agents/accessibility_walk.h"
#include "agents/agent_attention.h"
#include "agents/terminal_jumper.h"
#include "agents/session_window.h"
#include "support/fake_accessibility.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

using Strings = std::vector<std::string>;

struct Node final : AccessibleElement {
  std::string roleName, titleText, desc;
  AccessibleKind kindValue;
  std::vector<AccessibleRef> kids;
  Strings performed;
  std::optional<std::string> role() override { return roleName; }
  AccessibleKind kind() override { return kindValue; }
  std::optional<std::string> subrole() override { return std::nullopt; }
  std::optional<std::string> title() override { return titleText; }
  std::optional<std::string> description() override { return desc; }
  std::optional<int> tabCount() override { return std::nullopt; }
  std::optional<std::vector<AccessibleRef>> children() override { return kids; }
  // Only a press works: nothing can raise itself.
  bool perform(const std::string& a) override { return performed.push_back(a), a == accessible_actions::kPress; }
  std::shared_ptr<Node> add(std::shared_ptr<Node> child) { return kids.push_back(child), child; }
};
std::shared_ptr<Node> node(std::string role, std::string title = {}, AccessibleKind kind = AccessibleKind::other,
                           std::string desc = {}) {
  auto n = std::make_shared<Node>();
  n->roleName = std::move(role), n->titleText = std::move(title), n->kindValue = kind, n->desc = std::move(desc);
  return n;
}
// `depth` nested groups holding `width` cells and then a tab titled "api".
std::shared_ptr<Node> tree(int depth, int width) {
  auto top = node("window"), parent = top;
  for (int level = 0; level < depth; ++level) parent = parent->add(node("group"));
  for (int i = 0; i < width; ++i) parent->add(node("cell"));
  parent->add(node("tab", "api", AccessibleKind::tab));
  return top;
}

struct FakeWindows final : WindowActivation {
  std::vector<TopLevelWindow> all;
  std::vector<uint64_t> activated;
  std::optional<int32_t> front;
  std::optional<uint64_t> focused;
  std::vector<TopLevelWindow> windowsOf(int32_t pid) override {
    std::vector<TopLevelWindow> out;
    return std::copy_if(all.begin(), all.end(), std::back_inserter(out), [pid](auto& w) { return w.pid == pid; }), out;
  }
  bool activate(uint64_t window) override {
    activated.push_back(window);
    for (const auto& w : all)
      if (w.id == window) front = w.pid, focused = w.id;
    return true;
  }
  std::optional<int32_t> frontmostPID() override { return front; }
  std::optional<TopLevelWindow> focusedWindow() override {
    auto it = std::find_if(all.begin(), all.end(), [this](const auto& w) { return w.id == focused; });
    return it == all.end() ? std::nullopt : std::optional(*it);
  }
};

struct FakeInput final : SyntheticInput {
  explicit FakeInput(testing::VirtualDispatcher& d) : dispatcher(d) {}
  bool pressKey(Key key) override { return record(key == Key::escape ? "Escape" : "Return"); }
  bool typeText(const std::string& text, int32_t) override { return record("type " + text); }
  bool record(std::string event) { return events.emplace_back(dispatcher.elapsed(), std::move(event)), true; }
  testing::VirtualDispatcher& dispatcher;
  std::vector<std::pair<Seconds, std::string>> events;
};

template <class Map, class Key>
std::optional<typename Map::mapped_type> lookup(const Map& map, const Key& key) {
  return map.contains(key) ? std::optional(map.at(key)) : std::nullopt;
}

struct FakeSystem final : ProcessLauncher, JumpEnvironment {
  std::vector<std::pair<std::string, std::string>> outputs;  // command fragment -> output
  Strings calls, sockets;
  std::map<std::pair<int32_t, std::string>, std::string> env;
  std::map<int32_t, int32_t> parents;
  std::map<int32_t, std::string> names;
  ToolRun run(const std::string& path, const Strings& arguments, double) override {
    std::string line = path;
    for (const auto& a : arguments) line += " " + a;
    calls.push_back(line);
    for (const auto& [key, output] : outputs)
      if (line.find(key) != std::string::npos) return {ToolRun::Outcome::finished, output, ""};
    return {ToolRun::Outcome::failedToLaunch, "", "no such server"};
  }
  std::optional<std::string> environmentVariable(int32_t pid, const std::string& name) override {
    return lookup(env, std::pair(pid, name));
  }
  std::optional<int32_t> parentOf(int32_t pid) override { return lookup(parents, pid); }
  std::optional<std::string> executableName(int32_t pid) override { return lookup(names, pid); }
  Strings tmuxSockets() override { return sockets; }
  std::optional<std::string> findExecutable(const std::string& name) override { return "/usr/bin/" + name; }
};

AgentSession agent(std::string project, std::optional<std::string> terminal, std::optional<int32_t> terminalPid,
                   std::optional<std::string> tty) {
  return {.pid = 42, .agentName = "Claude", .projectName = std::move(project), .terminalName = std::move(terminal),
          .terminalPID = terminalPid, .terminalTTY = std::move(tty)};
}
// Agent 42's variables for kitty's and WezTerm's remote control.
const std::map<std::pair<int32_t, std::string>, std::string> kRemoteControlEnv{
    {{42, "KITTY_WINDOW_ID"}, "3"}, {{42, "KITTY_LISTEN_ON"}, "unix:/tmp/kitty"}, {{42, "WEZTERM_PANE"}, "12"}};

TEST(AccessibilityWalks, TabSearchAndDumpStopAtTheirDepthCycleAndBudgetLimits) {
  auto find = [](AccessibleRef root) { BudgetBox budget{kFindTabBudget}; return findTab(root, "api", 0, budget); };
  auto dumpedLines = [](AccessibleRef root) {
    BudgetBox budget{kDumpBudget};
    std::string out;
    return dumpElement(root, 0, budget, out), std::count(out.begin(), out.end(), '\n');
  };
  auto window = node("window");
  auto group = window->add(node("group", "api project"));  // not a tab: searched inside
  group->add(node("tab", "Other", AccessibleKind::tab));
  auto byDesc = group->add(node("button", "zsh", AccessibleKind::button, "~/Work/API"));
  EXPECT_EQ(find(window), byDesc);
  // The tab search goes six groups deep, the dump nine; a cycle ends at that depth, a huge tree
  // with the budget.
  EXPECT_TRUE(find(tree(6, 0)) && !find(tree(7, 0)) && !find(tree(0, 5000)));
  EXPECT_EQ(std::pair(dumpedLines(tree(20, 0)), dumpedLines(tree(0, 1000))), std::pair(10l, 400l));
  auto loop = node("group");
  loop->add(loop);
  EXPECT_TRUE(!find(loop) && dumpedLines(loop) == 10);
  loop->kids.clear();
}

// The user looks at an agent when the focused window shows it: its pane is the active pane of the
// active window of a client whose own terminal window is focused, or, outside tmux, the agent's own
// window and tab is. One terminal process owns several windows: its pid alone says nothing.
TEST(AgentAttention, TheFocusedWindowAndItsPaneOrTabNotJustTheTerminalProcess) {
  FakeSystem launcher, &env = launcher;
  FakeWindows windows;
  TerminalAttention attention(launcher, env, windows);
  // tmux client 300 -> shell -> terminal 200; agent 42 -> shell -> terminal 500. Each terminal
  // process owns two windows; one names the agent's folder.
  env.parents = {{300, 299}, {299, 200}, {42, 41}, {41, 500}};
  env.names = {{200, "gnome-terminal-"}, {500, "gnome-terminal-"}};
  const std::vector<TopLevelWindow> twoEach{
      {1, 200, "~/work/api: tmux"}, {2, 200, "~/work/web"}, {5, 500, "~/work/api"}, {6, 500, "~/work/web"}, {9, 999, "api notes"}};
  const std::string clients = "C /dev/pts/4 300 $1 10\nC /dev/pts/5 301 $2 11\n";
  // terminal: the agent's, as the watcher resolved it; output: tmux's listing or the remote control's answer.
  struct Case {
    const char* what; std::optional<std::string> terminal; std::vector<TopLevelWindow> windows; std::string output;
    std::optional<uint64_t> focused; bool looking;
  };
  const auto check = [&](const Case& c) {
    windows.all = c.windows, windows.focused = c.focused;
    launcher.outputs = {{"mine list-panes", c.output + clients}, {"ls --match id:3", c.output}, {"list-clients", c.output}};
    EXPECT_EQ(attention.userIsLookingAt(agent("api", c.terminal, 500, "pts/8")), c.looking) << c.what;
  };

  env.env[{42, "TMUX"}] = "/tmp/tmux-0/mine,77,1";
  for (const Case& c : std::vector<Case>{
      {"the active pane, the client's own window", "tmux", twoEach, "A /dev/pts/8 $1 11\n", 1, true},
      {"another application", "tmux", twoEach, "A /dev/pts/8 $1 11\n", 9, false},
      {"another pane is the active one", "tmux", twoEach, "A /dev/pts/8 $1 10\n", 1, false},
      {"shown by a client in another terminal", "tmux", twoEach, "A /dev/pts/8 $2 11\n", 1, false},
      {"nothing focused", "tmux", twoEach, "A /dev/pts/8 $1 11\n", std::nullopt, false},
       {"a tabbed terminal's only window, titled otherwise", "tmux", {{1, 200, "bash"}}, "A /dev/pts/8 $1 11\n", 1, false}})
    check(c);
  env.names[200] = "xterm";  // one window, no tabs: whatever its title
  check({"an xterm's only window", "tmux", {{1, 200, "bash"}}, "A /dev/pts/8 $1 11\n", 1, true});

  // Outside tmux: the agent's own window, and the terminal's own tab where its remote control tells.
  env.env = kRemoteControlEnv;
  const auto kitty = [](const char* tab) {
    return R"([{"platform_window_id":5,"tabs":[{"is_active":)" + std::string(tab) + R"(,"windows":[{"id":3,"is_active":true}]}]}])";
  };
  const std::string kittyShown = kitty("true"), kittyBehind = kitty("false");
  for (const Case& c : std::vector<Case>{
      {"the window naming the folder", "GNOME Terminal", twoEach, "", 5, true},
      {"kitty: its window in the current tab", "kitty", twoEach, kittyShown, 5, true},
      {"kitty: its tab is behind another", "kitty", twoEach, kittyBehind, 5, false},
      {"kitty: another OS window", "kitty", twoEach, kittyShown, 6, false},
      {"WezTerm: its pane focused", "WezTerm", twoEach, R"([{"pid":500,"focused_pane_id":12}])", 6, true},
      {"WezTerm: another pane", "WezTerm", twoEach, R"([{"pid":500,"focused_pane_id":13}])", 5, false},
       {"WezTerm: no answer, the title tells", "WezTerm", twoEach, "not json", 5, true}})
    check(c);
}

TEST(TtyJumps, TmuxSelectsTheAgentsPaneAndRaisesItsClientRemoteControlNeedsTheTerminalsVariables) {
  FakeSystem launcher, &env = launcher;
  FakeWindows windows;
  env.sockets = {"/tmp/tmux-0/other", "/tmp/tmux-0/mine"};
  env.parents = {{300, 299}, {299, 200}};  // tmux client -> shell -> xterm
  windows.all = {{7, 200, "xterm"}};
  // Malformed lines are skipped; no client is on the pane's session, so the most recent is moved there.
  launcher.outputs = {
      {"mine list-panes", "P /dev/pts/8 %2 $1\ngarbage\nC /dev/pts/3 301 $0 5\nC /dev/pts/4 300 $0 10\nC /dev/pts/9 nope $1 1\n"},
      {"other list-panes", "P /dev/pts/5 %0 $0\n"}, {"select-window", ""}};
  TmuxJump tmuxJump(launcher, env, windows);
  auto jump = [&](std::optional<std::string> tty = "pts/8") {
    return launcher.calls.clear(), tmuxJump.jump(agent("api", "tmux", 1, tty));
  };
  EXPECT_TRUE(jump());
  EXPECT_EQ(windows.activated, std::vector<uint64_t>{7});
  EXPECT_EQ(launcher.calls.back(), "/usr/bin/tmux -S /tmp/tmux-0/mine select-window -t %2 ; select-pane -t %2 ; "
                                   "switch-client -c /dev/pts/4 -t %2");
  // The TMUX variable puts the agent's own server first.
  env.env[{42, "TMUX"}] = "/tmp/tmux-0/mine,77,1";
  EXPECT_TRUE(jump());
  EXPECT_NE(launcher.calls.front().find("/tmp/tmux-0/mine"), std::string::npos);
  // With TMUX_PANE as well, one run selects the pane and confirms its tty; a pane that no longer
  // has the agent's tty sends the jump back to the listing.
  env.env[{42, "TMUX_PANE"}] = "%2";
  launcher.outputs.insert(launcher.outputs.begin(), {"if-shell -F -t %2 #{==:#{pane_tty},/dev/pts/8} select-window -t %2 ;"
                                                    " select-pane -t %2 ; display -p -t %2",
                                                    "P /dev/pts/8 %2 $1\nC /dev/pts/4 300 $1 10\n"});
  EXPECT_TRUE(jump());
  EXPECT_EQ(launcher.calls.size(), 1u);
  launcher.outputs.front().second = "P /dev/pts/6 %2 $1\n";
  EXPECT_TRUE(jump());
  EXPECT_EQ(launcher.calls.size(), 3u);
  env.env.erase({42, "TMUX_PANE"}), launcher.outputs.erase(launcher.outputs.begin());
  // A client already on the pane's session stays where it is.
  launcher.outputs[0].second += "C /dev/pts/2 302 $1 1\n";
  env.parents[302] = 200;
  EXPECT_TRUE(jump());
  EXPECT_EQ(launcher.calls.back(), "/usr/bin/tmux -S /tmp/tmux-0/mine select-window -t %2 ; select-pane -t %2");
  // A pane closed since the scan, no tty: nothing is selected; odd names are never spliced in.
  for (const auto& tty : {std::optional<std::string>("pts/99"), std::optional<std::string>()}) {
    EXPECT_FALSE(jump(tty));
    for (const auto& call : launcher.calls) EXPECT_EQ(call.find(" select-"), std::string::npos);
  }
  EXPECT_FALSE(tmux::selectKnownPaneArguments("/s", "%2", "/dev/pts/1}#{x"));
  EXPECT_FALSE(tmux::selectKnownPaneArguments("/s", "%2 ; kill-server", "/dev/pts/1"));

  // kitty and WezTerm by remote control: only for their own terminal and with its variables.
  windows.all = {{5, 70, "kitty"}};
  launcher.outputs = {{"focus-window", ""}, {"activate-pane", ""}};
  RemoteControlJump kitty(RemoteControlJump::Terminal::kitty, launcher, env, windows),
      wezterm(RemoteControlJump::Terminal::wezterm, launcher, env, windows);
  EXPECT_FALSE(kitty.jump(agent("api", "kitty", 70, "pts/1")));  // no remote control socket
  env.env = kRemoteControlEnv;
  EXPECT_FALSE(kitty.jump(agent("api", "WezTerm", 70, "pts/1")));
  EXPECT_TRUE(kitty.jump(agent("api", "kitty", 70, "pts/1")));
  EXPECT_EQ(launcher.calls.back(), "/usr/bin/kitty @ --to unix:/tmp/kitty focus-window --match id:3");
  EXPECT_TRUE(wezterm.jump(agent("api", "WezTerm", 70, "pts/1")));
  EXPECT_EQ(launcher.calls.back(), "/usr/bin/wezterm cli activate-pane --pane-id 12");
}

struct FakeScripts final : ScriptRunner {
  bool succeed = true;
  Strings scripts;
  bool runScript(const std::string& source) override { return scripts.push_back(source), succeed; }
};
struct FakeTtyJump final : TtyJump {
  bool succeed = false;
  int calls = 0;
  const char* name() const override { return "fake"; }
  bool jump(const AgentSession&) override { return ++calls, succeed; }
};

class JumperTest : public ::testing::Test {
 protected:
  testing::VirtualDispatcher dispatcher;
  FakeWindows windows;
  testing::FakeAccessibility ax;
  FakeInput input{dispatcher};
  FakeScripts scripts;
  std::shared_ptr<FakeTtyJump> tty = std::make_shared<FakeTtyJump>();
  std::shared_ptr<TerminalJumper> jumper = std::make_shared<TerminalJumper>(
      TerminalJumperDependencies{dispatcher, windows, ax, input, &scripts, {tty}});
  using Outcome = TerminalJumper::Outcome;
};

TEST_F(JumperTest, StrategiesInOrder) {
  EXPECT_EQ(jumper->jumpNow(agent("api", "Terminal", 10, "ttys004")), Outcome::script);
  EXPECT_NE(scripts.scripts[0].find("\"/dev/ttys004\""), std::string::npos);
  EXPECT_EQ(tty->calls, 0);
  scripts.succeed = false, tty->succeed = true;
  EXPECT_EQ(jumper->jumpNow(agent("api", "Terminal", 10, "ttys004")), Outcome::ttyPrecise);
  tty->succeed = false;
  EXPECT_EQ(jumper->jumpNow(agent("api", "kitty", std::nullopt, "pts/1")), Outcome::nothing);
  EXPECT_EQ(scripts.scripts.size(), 2u);  // kitty has no script

  // A window titled with the project; else the tab naming it, pressed, and the frame holding it
  // raised; untrusted, titles only and else the application, never turning the bus on itself.
  windows.all = {{1, 10, "zsh"}, {2, 10, "api — zsh"}, {3, 10, "Terminal"}, {4, 60, "web elsewhere"}};
  EXPECT_EQ(jumper->jumpNow(agent("API", "kitty", 10, "pts/1")), Outcome::window);
  auto app = node("application", "kgx");
  ax.apps[10] = app;
  auto tab = app->add(node("frame", "Terminal"))->add(node("tab list"))->add(node("page tab", "x", AccessibleKind::tab, "Ünï web"));
  EXPECT_EQ(jumper->jumpNow(agent("ÜNÏ", "kitty", 10, "pts/1")), Outcome::window);
  EXPECT_EQ(tab->performed, Strings{"press"});
  EXPECT_EQ(windows.activated, (std::vector<uint64_t>{2, 3}));  // the frame could not raise itself
  ax.trusted = false, ax.allowed = true;  // the desktop would let any program turn it on
  EXPECT_EQ(jumper->jumpNow(agent("web", "kitty", 10, "pts/1")), Outcome::applicationOnly);
  EXPECT_EQ(tab->performed.size(), 1u);
  EXPECT_EQ(windows.activated.back(), 1u);
  EXPECT_EQ(std::pair(ax.requests, ax.trusted), std::pair(0, false));
  windows.all.clear();
  EXPECT_EQ(jumper->jumpNow(agent("web", "kitty", 10, "pts/1")), Outcome::nothing);
}

TEST_F(JumperTest, WarpPaletteChainInVirtualTimeAndOnlyWhileInFront) {
  windows.all = {{4, 20, "Warp"}};
  auto app = node("application", "Warp");
  app->add(node("window"));
  auto item = app->add(node("menu bar", "", AccessibleKind::menuBar))->add(node("menu", "View"))->add(node("menu"));
  item = item->add(node("menu item", "Navigation Palette"));
  ax.apps[20] = app;
  // The menu and its item are matched by their exact titles, in the given application only.
  EXPECT_FALSE(pressMenuItem(20, "view", "Navigation Palette", ax));
  EXPECT_FALSE(pressMenuItem(20, "View", "Navigation", ax));
  EXPECT_FALSE(pressMenuItem(21, "View", "Navigation Palette", ax));
  EXPECT_TRUE(item->performed.empty());

  auto session = agent("api", "Warp", 20, "pts/1");
  session.context = ClaudeSessionInfo{.title = "Refactor the billing module to use the new ledger"};  // only its start is typed
  jumper->jump(session);
  dispatcher.advance(5);
  EXPECT_EQ(item->performed, Strings{"press"});
  using Event = std::pair<Seconds, std::string>;
  EXPECT_EQ(input.events, (std::vector<Event>{{0.25, "Escape"}, {0.75, "type Refactor the billing module "}, {1.2, "Return"}}));
  // Another window comes to the front before typing: nothing more is typed.
  input.events.clear(), jumper->warpJump(20, "api");
  dispatcher.advance(0.2), windows.front = 99, dispatcher.advance(2);
  EXPECT_EQ(input.events.size(), 1u);  // Escape only
}

TEST(SessionWindowTest, OneTerminalProcessWithSeveralWindowsNamesTheSessionsOwnOrNone) {
  AgentSession session{.projectName = "api", .sessionName = "fix-login"};
  const std::vector<TopLevelWindow> byProject{{1, 9, "~/web"}, {2, 9, "~/api: claude"}};
  EXPECT_EQ(sessionWindowAmong({{1, 9, "bash"}}, session), 1u);  // the only window: whatever its title
  EXPECT_EQ(sessionWindowAmong({{1, 9, "~/web"}, {2, 9, "fix-login — claude"}, {3, 9, "api"}}, session), 2u);
  EXPECT_EQ(sessionWindowAmong(byProject, session), 2u);
  EXPECT_EQ(sessionWindowAmong({{1, 9, "~/api"}, {2, 9, "~/api/docs"}}, session), std::nullopt);
  EXPECT_EQ(sessionWindowAmong({}, session), std::nullopt);
  session.projectName = "a", session.sessionName.reset();  // too short to tell windows apart
  EXPECT_EQ(sessionWindowAmong(byProject, session), std::nullopt);
}

}  // namespace
}  // namespace tovami
