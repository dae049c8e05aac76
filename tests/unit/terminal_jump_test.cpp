#include <gtest/gtest.h>

#include <map>

#include "agents/accessibility_walk.h"
#include "agents/jump_scripts.h"
#include "agents/terminal_jumper.h"
#include "support/virtual_dispatcher.h"

namespace tovami {
namespace {

// ---- Fakes ---------------------------------------------------------------------------------

struct Node final : AccessibleElement {
  Node(std::string r, std::string t = {}, AccessibleKind k = AccessibleKind::other, std::string d = {})
      : roleName(std::move(r)), titleText(std::move(t)), kindValue(k), desc(std::move(d)) {}
  std::optional<std::string> role() override { return roleName; }
  AccessibleKind kind() override { return kindValue; }
  std::optional<std::string> subrole() override { return sub; }
  std::optional<std::string> title() override { return titleText; }
  std::optional<std::string> description() override { return desc; }
  std::optional<int> tabCount() override { return tabs; }
  std::optional<std::vector<AccessibleRef>> children() override { return kids; }
  bool perform(const std::string& action) override {
    performed.push_back(action);
    return action == accessible_actions::kPress || canRaise;
  }
  std::shared_ptr<Node> add(std::shared_ptr<Node> child) {
    kids.push_back(child);
    return child;
  }

  std::string roleName, titleText;
  AccessibleKind kindValue;
  std::string desc;
  std::optional<std::string> sub;
  std::optional<int> tabs;
  std::vector<AccessibleRef> kids;
  std::vector<std::string> performed;
  bool canRaise = false;
};
std::shared_ptr<Node> node(std::string role, std::string title = {},
                           AccessibleKind kind = AccessibleKind::other, std::string desc = {}) {
  return std::make_shared<Node>(std::move(role), std::move(title), kind, std::move(desc));
}

struct FakeAccessibility final : Accessibility {
  bool isTrusted() override { return trusted; }
  void requestTrust() override { ++trustRequests; }
  std::string howToEnable() override { return "turn it on"; }
  AccessibleRef application(int32_t pid) override { return apps.contains(pid) ? apps[pid] : nullptr; }
  AccessibleRef applicationNamed(const std::string& name) override {
    for (auto& [pid, app] : apps)
      if (app->titleText == name) return app;
    return nullptr;
  }
  std::vector<AccessibleRef> windows(const AccessibleRef& app) override {
    return app ? *app->children() : std::vector<AccessibleRef>{};
  }
  AccessibleRef menuBar(const AccessibleRef&) override { return nullptr; }
  bool trusted = true;
  int trustRequests = 0;
  std::map<int32_t, std::shared_ptr<Node>> apps;
};

struct FakeWindows final : WindowActivation {
  std::vector<TopLevelWindow> windowsOf(int32_t pid) override {
    std::vector<TopLevelWindow> out;
    for (const auto& w : all)
      if (w.pid == pid) out.push_back(w);
    return out;
  }
  bool activate(uint64_t window) override {
    activated.push_back(window);
    for (const auto& w : all)
      if (w.id == window) front = w.pid;
    return true;
  }
  std::optional<int32_t> frontmostPID() override { return front; }
  std::vector<TopLevelWindow> all;
  std::vector<uint64_t> activated;
  std::optional<int32_t> front;
};

struct FakeInput final : SyntheticInput {
  explicit FakeInput(testing::VirtualDispatcher& d) : dispatcher(d) {}
  bool pressKey(Key key) override {
    events.push_back({dispatcher.elapsed(), key == Key::escape ? "Escape" : "Return"});
    return true;
  }
  bool typeText(const std::string& text, int32_t) override {
    events.push_back({dispatcher.elapsed(), "type " + text});
    return true;
  }
  testing::VirtualDispatcher& dispatcher;
  std::vector<std::pair<Seconds, std::string>> events;
};

struct FakeLauncher final : ProcessLauncher {
  ToolRun run(const std::string& path, const std::vector<std::string>& arguments, double) override {
    std::string line = path;
    for (const auto& a : arguments) line += " " + a;
    calls.push_back(line);
    for (const auto& [key, output] : outputs)
      if (line.find(key) != std::string::npos) return {ToolRun::Outcome::finished, output, ""};
    return {ToolRun::Outcome::failedToLaunch, "", "no such server"};
  }
  std::vector<std::pair<std::string, std::string>> outputs;  // command fragment -> output
  std::vector<std::string> calls;
};

struct FakeEnvironment final : JumpEnvironment {
  std::optional<std::string> environmentVariable(int32_t pid, const std::string& name) override {
    auto it = env.find({pid, name});
    return it == env.end() ? std::nullopt : std::optional(it->second);
  }
  std::optional<int32_t> parentOf(int32_t pid) override {
    return parents.contains(pid) ? std::optional(parents[pid]) : std::nullopt;
  }
  std::vector<std::string> tmuxSockets() override { return sockets; }
  std::optional<std::string> findExecutable(const std::string& name) override { return "/usr/bin/" + name; }
  std::map<std::pair<int32_t, std::string>, std::string> env;
  std::map<int32_t, int32_t> parents;
  std::vector<std::string> sockets;
};

AgentSession agent(int32_t pid, std::string project, std::optional<std::string> terminal,
                   std::optional<int32_t> terminalPid, std::optional<std::string> tty) {
  AgentSession s;
  s.pid = pid;
  s.agentName = "Claude";
  s.projectName = std::move(project);
  s.terminalName = std::move(terminal);
  s.terminalPID = terminalPid;
  s.terminalTTY = std::move(tty);
  return s;
}

// ---- Scripts -------------------------------------------------------------------------------

TEST(JumpScripts, TerminalAndITermTextsExactlyAndNothingElse) {
  EXPECT_EQ(
      *appleScript("Terminal", "/dev/ttys004"),
      "tell application \"Terminal\"\n    repeat with w in windows\n        repeat with t in tabs of w\n"
      "            if tty of t is \"/dev/ttys004\" then\n                set selected of t to true\n"
      "                set index of w to 1\n                activate\n                return\n"
      "            end if\n        end repeat\n    end repeat\nend tell");
  EXPECT_EQ(
      *appleScript("iTerm2", "/dev/ttys001"),
      "tell application \"iTerm2\"\n    repeat with w in windows\n        repeat with t in tabs of w\n"
      "            repeat with s in sessions of t\n                if tty of s is \"/dev/ttys001\" then\n"
      "                    select w\n                    select t\n                    select s\n"
      "                    activate\n                    return\n                end if\n"
      "            end repeat\n        end repeat\n    end repeat\nend tell");
  EXPECT_FALSE(appleScript("kitty", "/dev/pts/3"));
  EXPECT_FALSE(appleScript("terminal", "/dev/pts/3"));
}

// ---- Tree walks ----------------------------------------------------------------------------

TEST(FindTab, MatchesTabsAndButtonsByTitleOrDescriptionWithinDepthAndBudget) {
  auto window = node("window");
  auto group = window->add(node("group", "api project"));  // not a tab: searched inside
  auto plain = group->add(node("tab", "Other", AccessibleKind::tab));
  auto byDesc = group->add(node("button", "zsh", AccessibleKind::button, "~/Work/API"));
  BudgetBox budget{kFindTabBudget};
  EXPECT_EQ(findTab(window, "api", 0, budget), byDesc);

  // A tab below seven nested groups is out of reach; below six it is found.
  auto nested = [](int groups) {
    auto top = node("window");
    auto parent = top;
    for (int level = 0; level < groups; ++level) parent = parent->add(node("group"));
    parent->add(node("tab", "api", AccessibleKind::tab));
    return top;
  };
  budget = {kFindTabBudget};
  EXPECT_FALSE(findTab(nested(7), "api", 0, budget));
  budget = {kFindTabBudget};
  EXPECT_TRUE(findTab(nested(6), "api", 0, budget));

  // A cycle ends with the depth limit; a huge flat tree with the budget.
  auto loop = node("group");
  loop->add(loop);
  budget = {kFindTabBudget};
  EXPECT_FALSE(findTab(loop, "api", 0, budget));
  auto wide = node("window");
  for (int i = 0; i < 5000; ++i) wide->add(node("cell"));
  wide->add(node("tab", "api", AccessibleKind::tab));
  budget = {kFindTabBudget};
  EXPECT_FALSE(findTab(wide, "api", 0, budget));
  EXPECT_EQ(budget.remaining, 0);
  loop->kids.clear();
}

TEST(FocusWindow, TitleFirstThenTabAndOnlyTitlesWhenUntrusted) {
  FakeWindows windows;
  FakeAccessibility ax;
  windows.all = {{1, 50, "~/work/web — zsh"}, {2, 50, "~/work/API — zsh"}, {3, 60, "api elsewhere"}};
  EXPECT_TRUE(focusWindow(50, "api", windows, ax));
  EXPECT_EQ(windows.activated, std::vector<uint64_t>{2});

  windows.activated.clear();
  windows.all = {{1, 50, "zsh"}, {2, 50, "Terminal"}};
  auto app = node("application", "kgx");
  auto frame = app->add(node("frame", "Terminal"));
  auto tab = frame->add(node("tab list"))->add(node("page tab", "x", AccessibleKind::tab, "Ünï api"));
  ax.apps[50] = app;
  EXPECT_TRUE(focusWindow(50, "ÜNÏ", windows, ax));
  EXPECT_EQ(tab->performed, std::vector<std::string>{"press"});
  EXPECT_EQ(windows.activated, std::vector<uint64_t>{2});  // the frame could not raise itself

  ax.trusted = false;
  tab->performed.clear();
  EXPECT_FALSE(focusWindow(50, "api", windows, ax));
  EXPECT_TRUE(tab->performed.empty());
}

TEST(PressMenuItem, FindsMenuAndItemByExactTitles) {
  FakeAccessibility ax;
  auto app = node("application", "Warp");
  app->add(node("window"));
  auto bar = app->add(node("menu bar", "", AccessibleKind::menuBar));
  auto view = bar->add(node("menu", "View"))->add(node("menu"));
  auto item = view->add(node("menu item", "Navigation Palette"));
  ax.apps[9] = app;
  EXPECT_FALSE(pressMenuItem(9, "view", "Navigation Palette", ax));
  EXPECT_FALSE(pressMenuItem(9, "View", "Navigation", ax));
  EXPECT_TRUE(item->performed.empty());
  EXPECT_TRUE(pressMenuItem(9, "View", "Navigation Palette", ax));
  EXPECT_EQ(item->performed, std::vector<std::string>{"press"});
  EXPECT_FALSE(pressMenuItem(10, "View", "Navigation Palette", ax));
}

TEST(DumpAccessibility, FormatLimitsAndTheAppleMenu) {
  FakeAccessibility ax;
  auto app = node("AXApplication", "Demo");
  auto bar = app->add(node("AXMenuBar", "", AccessibleKind::menuBar));
  bar->add(node("AXMenuBarItem", "Apple", AccessibleKind::menuBarItem))->add(node("AXMenu", "hidden"));
  auto window = app->add(node("AXWindow", "Main", AccessibleKind::other, "d"));
  window->sub = "AXStandardWindow";
  window->tabs = 2;
  ax.apps[1] = app;
  EXPECT_EQ(dumpAccessibility("Demo", ax),
            "AX trusted: true\n"
            "AXApplication title='Demo' desc=''\n"
            "  AXMenuBar title='' desc=''\n"
            "    AXMenuBarItem title='Apple' desc=''\n"
            "  AXWindow/AXStandardWindow title='Main' desc='d'\n"
            "    [AXTabs: 2]\n");
  ax.trusted = false;
  EXPECT_EQ(dumpAccessibility("Nope", ax), "AX trusted: false\nturn it on\nno running app named Nope\n");

  // Depth 9 at most; 400 elements at most.
  auto chain = node("r");
  auto parent = chain;
  for (int i = 0; i < 20; ++i) parent = parent->add(node("r"));
  BudgetBox budget{kDumpBudget};
  std::string out;
  dumpElement(chain, 0, budget, out);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 10);
  auto wide = node("r");
  for (int i = 0; i < 1000; ++i) wide->add(node("c"));
  budget = {kDumpBudget};
  out.clear();
  dumpElement(wide, 0, budget, out);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 400);
}

// ---- tmux ----------------------------------------------------------------------------------

TEST(Tmux, ListingClientChoiceAndSelection) {
  const auto listing = tmux::parseListing(
      "P /dev/pts/3 %0 $0\nP /dev/pts/7 %4 $1\ngarbage\nC /dev/pts/1 100 $0 1700000000\n"
      "C /dev/pts/2 101 $0 1700000500\nC /dev/pts/9 nope $1 1\n");
  ASSERT_EQ(listing.panes.size(), 2u);
  ASSERT_EQ(listing.clients.size(), 2u);
  // No client on the pane's session: the most recent one is moved there.
  const auto client = tmux::chooseClient(listing, listing.panes[1]);
  EXPECT_EQ(client->pid, 101);
  EXPECT_EQ(tmux::selectArguments("/s", listing.panes[1], client),
            (std::vector<std::string>{"-S", "/s", "select-window", "-t", "%4", ";", "select-pane", "-t", "%4",
                                      ";", "switch-client", "-c", "/dev/pts/2", "-t", "%4"}));
  auto onSession = listing;
  onSession.clients.push_back({"/dev/pts/5", 102, "$1", 5});
  EXPECT_EQ(tmux::chooseClient(onSession, listing.panes[1])->pid, 102);
  EXPECT_EQ(
      tmux::selectArguments("/s", listing.panes[1], tmux::chooseClient(onSession, listing.panes[1])).size(),
      9u);
  EXPECT_EQ(tmux::socketFromEnvironment("/tmp/tmux-1000/work,123,0"), "/tmp/tmux-1000/work");
  EXPECT_FALSE(tmux::socketFromEnvironment(""));
}

TEST(TmuxJump, FindsTheAgentsServerSelectsItsPaneAndRaisesTheClientsTerminal) {
  FakeLauncher launcher;
  FakeEnvironment env;
  FakeWindows windows;
  env.sockets = {"/tmp/tmux-0/other", "/tmp/tmux-0/mine"};
  env.parents = {{300, 299}, {299, 200}};  // tmux client -> shell -> xterm
  windows.all = {{7, 200, "xterm"}};
  launcher.outputs = {{"mine list-panes", "P /dev/pts/8 %2 $1\nC /dev/pts/4 300 $0 10\n"},
                      {"other list-panes", "P /dev/pts/5 %0 $0\n"},
                      {"select-window", ""}};
  TmuxJump jump(launcher, env, windows);
  EXPECT_TRUE(jump.jump(agent(42, "api", "tmux", 1, "pts/8")));
  EXPECT_EQ(windows.activated, std::vector<uint64_t>{7});
  EXPECT_NE(launcher.calls.back().find("switch-client -c /dev/pts/4 -t %2"), std::string::npos);

  // The TMUX variable puts the agent's own server first.
  launcher.calls.clear();
  env.env[{42, "TMUX"}] = "/tmp/tmux-0/mine,77,1";
  EXPECT_TRUE(jump.jump(agent(42, "api", "tmux", 1, "pts/8")));
  EXPECT_NE(launcher.calls.front().find("/tmp/tmux-0/mine"), std::string::npos);

  // With TMUX_PANE as well, one run selects the pane and confirms its tty; a pane that no longer
  // has the agent's tty sends the jump back to the listing.
  launcher.calls.clear();
  env.env[{42, "TMUX_PANE"}] = "%2";
  launcher.outputs.insert(launcher.outputs.begin(),
                          {"if-shell -F -t %2 #{==:#{pane_tty},/dev/pts/8} select-window -t %2 ; select-pane "
                           "-t %2 ; display -p -t %2",
                           "P /dev/pts/8 %2 $1\nC /dev/pts/4 300 $1 10\n"});
  EXPECT_TRUE(jump.jump(agent(42, "api", "tmux", 1, "pts/8")));
  EXPECT_EQ(launcher.calls.size(), 1u);
  launcher.outputs.front().second = "P /dev/pts/6 %2 $1\n";
  launcher.calls.clear();
  EXPECT_TRUE(jump.jump(agent(42, "api", "tmux", 1, "pts/8")));
  EXPECT_EQ(launcher.calls.size(), 3u);
  launcher.outputs.erase(launcher.outputs.begin());
  env.env.erase({42, "TMUX_PANE"});

  // A pane closed since the scan, a dead server, no tty: nothing is selected.
  launcher.calls.clear();
  EXPECT_FALSE(jump.jump(agent(42, "api", "tmux", 1, "pts/99")));
  EXPECT_FALSE(jump.jump(agent(42, "api", "tmux", 1, std::nullopt)));
  for (const auto& call : launcher.calls) EXPECT_EQ(call.find(" select-"), std::string::npos);
  EXPECT_FALSE(tmux::selectKnownPaneArguments("/s", "%2", "/dev/pts/1}#{x"));
  EXPECT_FALSE(tmux::selectKnownPaneArguments("/s", "%2 ; kill-server", "/dev/pts/1"));
}

TEST(RemoteControlJump, NeedsTheTerminalAndItsVariables) {
  FakeLauncher launcher;
  FakeEnvironment env;
  FakeWindows windows;
  windows.all = {{5, 70, "kitty"}};
  launcher.outputs = {{"focus-window", ""}, {"activate-pane", ""}};
  RemoteControlJump kitty(RemoteControlJump::Terminal::kitty, launcher, env, windows);
  RemoteControlJump wezterm(RemoteControlJump::Terminal::wezterm, launcher, env, windows);
  EXPECT_FALSE(kitty.jump(agent(42, "api", "kitty", 70, "pts/1")));  // no remote control socket
  env.env[{42, "KITTY_WINDOW_ID"}] = "3";
  env.env[{42, "KITTY_LISTEN_ON"}] = "unix:/tmp/kitty";
  env.env[{42, "WEZTERM_PANE"}] = "12";
  EXPECT_FALSE(kitty.jump(agent(42, "api", "WezTerm", 70, "pts/1")));
  EXPECT_TRUE(kitty.jump(agent(42, "api", "kitty", 70, "pts/1")));
  EXPECT_EQ(launcher.calls.back(), "/usr/bin/kitty @ --to unix:/tmp/kitty focus-window --match id:3");
  EXPECT_TRUE(wezterm.jump(agent(42, "api", "WezTerm", 70, "pts/1")));
  EXPECT_EQ(launcher.calls.back(), "/usr/bin/wezterm cli activate-pane --pane-id 12");
}

// ---- The strategy order and Warp -----------------------------------------------------------

struct FakeScripts final : ScriptRunner {
  bool runScript(const std::string& source) override {
    scripts.push_back(source);
    return succeed;
  }
  bool succeed = true;
  std::vector<std::string> scripts;
};
struct FakeTtyJump final : TtyJump {
  const char* name() const override { return "fake"; }
  bool jump(const AgentSession&) override { return ++calls, succeed; }
  bool succeed = false;
  int calls = 0;
};

class JumperTest : public ::testing::Test {
 protected:
  std::shared_ptr<TerminalJumper> make(ScriptRunner* runner) {
    return std::make_shared<TerminalJumper>(
        TerminalJumperDependencies{dispatcher, windows, ax, input, runner, {tty}});
  }
  testing::VirtualDispatcher dispatcher;
  FakeWindows windows;
  FakeAccessibility ax;
  FakeInput input{dispatcher};
  FakeScripts scripts;
  std::shared_ptr<FakeTtyJump> tty = std::make_shared<FakeTtyJump>();
  using Outcome = TerminalJumper::Outcome;
};

TEST_F(JumperTest, StrategiesInOrder) {
  auto jumper = make(&scripts);
  EXPECT_EQ(jumper->jumpNow(agent(1, "api", "Terminal", 10, "ttys004")), Outcome::script);
  EXPECT_NE(scripts.scripts[0].find("\"/dev/ttys004\""), std::string::npos);
  EXPECT_EQ(tty->calls, 0);
  scripts.succeed = false;
  tty->succeed = true;
  EXPECT_EQ(jumper->jumpNow(agent(1, "api", "Terminal", 10, "ttys004")), Outcome::ttyPrecise);
  tty->succeed = false;
  EXPECT_EQ(jumper->jumpNow(agent(1, "api", "kitty", std::nullopt, "pts/1")), Outcome::nothing);
  EXPECT_EQ(scripts.scripts.size(), 2u);  // kitty has no script

  windows.all = {{1, 10, "zsh"}, {2, 10, "api — zsh"}};
  EXPECT_EQ(jumper->jumpNow(agent(1, "API", "kitty", 10, "pts/1")), Outcome::window);
  EXPECT_EQ(windows.activated, std::vector<uint64_t>{2});
  ax.trusted = false;
  EXPECT_EQ(jumper->jumpNow(agent(1, "web", "kitty", 10, "pts/1")), Outcome::applicationOnly);
  EXPECT_EQ(windows.activated.back(), 1u);
  EXPECT_EQ(ax.trustRequests, 1);
  windows.all.clear();
  EXPECT_EQ(jumper->jumpNow(agent(1, "web", "kitty", 10, "pts/1")), Outcome::nothing);
}

TEST_F(JumperTest, WarpPaletteChainInVirtualTimeAndOnlyWhileInFront) {
  auto jumper = make(nullptr);
  windows.all = {{4, 20, "Warp"}};
  auto app = node("application", "Warp");
  auto item = app->add(node("menu bar", "", AccessibleKind::menuBar))
                  ->add(node("menu", "View"))
                  ->add(node("menu"))
                  ->add(node("menu item", "Navigation Palette"));
  ax.apps[20] = app;
  auto session = agent(1, "api", "Warp", 20, "pts/1");
  session.context = ClaudeSessionInfo{};
  session.context->title = "Refactor the billing module to use the new ledger";  // 40+ characters
  EXPECT_EQ(warpQuery(session), "Refactor the billing module ");
  jumper->jump(session);
  dispatcher.advance(5);
  ASSERT_EQ(input.events.size(), 3u);
  EXPECT_EQ(input.events[0], (std::pair<Seconds, std::string>{0.25, "Escape"}));
  EXPECT_EQ(input.events[1], (std::pair<Seconds, std::string>{0.75, "type Refactor the billing module "}));
  EXPECT_EQ(input.events[2], (std::pair<Seconds, std::string>{1.2, "Return"}));
  EXPECT_EQ(item->performed, std::vector<std::string>{"press"});

  // Another window comes to the front before typing: nothing more is typed.
  input.events.clear();
  jumper->warpJump(20, "api");
  dispatcher.advance(0.2);
  windows.front = 99;
  dispatcher.advance(2);
  EXPECT_EQ(input.events.size(), 1u);  // Escape only
}

}  // namespace
}  // namespace tovami
