#include <gtest/gtest.h>

#include <set>

#include "agents/terminal_resolution.h"

namespace tovami {
namespace {

PSRow row(int32_t pid, int32_t ppid, std::string args) {
  PSRow r;
  r.pid = pid;
  r.ppid = ppid;
  r.args = std::move(args);
  return r;
}

class FakeApps final : public RunningApplications {
 public:
  explicit FakeApps(std::set<int32_t> pids = {}) : pids_(std::move(pids)) {}
  bool isRegisteredApplication(int32_t pid) override {
    ++queries;
    return pids_.contains(pid);
  }
  std::optional<int32_t> frontmostApplicationPID() override { return std::nullopt; }
  int queries = 0;

 private:
  std::set<int32_t> pids_;
};

TEST(TerminalApps, MatchesByPrefixOrExactly) {
  // "st" must match whole; the match is case-sensitive.
  const std::pair<const char*, const char*> cases[] = {{"gnome-terminal-server", "GNOME Terminal"},
                                                       {"tmux: server", "tmux"},
                                                       {"st", "st"},
                                                       {"startplasma-x11", ""},
                                                       {"SCREEN", "screen"},
                                                       {"code", "VS Code"},
                                                       {"codex", ""},
                                                       {"cursor-agent", ""},
                                                       {"Kitty", ""},
                                                       {"", ""}};
  for (const auto& [executable, name] : cases) {
    const auto* match = terminalAppFor(executable);
    EXPECT_EQ(match ? match->terminalName : "", std::string(name)) << executable;
  }
}

TEST(ResolveTerminal, FindsTmuxTheTerminalApplicationOrTheApplicationOwningTheWindows) {
  // tmux server 50 (parent 1) -> zsh 51 -> claude 52; Terminal app 60 -> login 61 -> zsh 62 -> codex 63
  ProcessTable table({row(50, 1, "tmux new -s work"), row(51, 50, "-zsh"), row(52, 51, "claude"),
                      row(60, 1, "/System/Applications/Utilities/Terminal.app/Contents/MacOS/Terminal"),
                      row(61, 60, "login -pf u"), row(62, 61, "-zsh"), row(63, 62, "codex")});
  FakeApps apps({60});
  EXPECT_EQ(resolveTerminal(52, table.byPid, apps), (TerminalMatch{"tmux", 50}));
  EXPECT_EQ(resolveTerminal(63, table.byPid, apps), (TerminalMatch{"Terminal", 60}));

  // kitty 70 (owns windows) -> kitten 71 -> zsh 72 -> claude 73
  table = ProcessTable({row(70, 5, "/usr/bin/kitty"), row(71, 70, "kitty-helper"), row(72, 71, "zsh"),
                        row(73, 72, "claude"), row(5, 1, "systemd --user")});
  apps = FakeApps({70, 5});
  // The matched ancestor (71) is not an application: the highest application above it wins.
  EXPECT_EQ(resolveTerminal(73, table.byPid, apps), (TerminalMatch{"kitty", 5}));
  FakeApps onlyKitty({70});
  EXPECT_EQ(resolveTerminal(73, table.byPid, onlyKitty), (TerminalMatch{"kitty", 70}));
  FakeApps none;
  EXPECT_EQ(resolveTerminal(73, table.byPid, none), (TerminalMatch{"kitty", 71}));

  // Terminals written in Python are known by their script.
  table = ProcessTable({row(80, 1, "/usr/bin/python3 /usr/bin/terminator"), row(81, 80, "bash"),
                        row(82, 81, "aider"), row(90, 1, "python3 -m http.server"), row(91, 90, "claude")});
  EXPECT_EQ(resolveTerminal(82, table.byPid, none), (TerminalMatch{"Terminator", 80}));
  EXPECT_EQ(resolveTerminal(91, table.byPid, none), std::nullopt);
}

TEST(ResolveTerminal, NothingWithoutATerminalOrPastThirtyAncestors) {
  FakeApps apps;
  // No parent, the parent gone, no terminal among the ancestors.
  for (const auto& table : {ProcessTable({row(9, 0, "claude")}), ProcessTable({row(9, 8, "claude")}),
                            ProcessTable({row(9, 8, "claude"), row(8, 1, "sshd: u@pts/0")})})
    EXPECT_EQ(resolveTerminal(9, table.byPid, apps), std::nullopt);

  auto chain = [](int shells) {
    std::vector<PSRow> rows{row(1000, 1, "tmux")};
    int32_t parent = 1000;
    for (int i = 1; i <= shells; ++i) {
      rows.push_back(row(1000 + i, parent, "bash"));
      parent = 1000 + i;
    }
    rows.push_back(row(5000, parent, "claude"));
    return ProcessTable(std::move(rows));
  };
  EXPECT_TRUE(resolveTerminal(5000, chain(29).byPid, apps));  // tmux is the 30th ancestor
  EXPECT_FALSE(resolveTerminal(5000, chain(30).byPid, apps));

  // A cycle of shells never reaches a terminal and stops at the bound.
  ProcessTable cyclic({row(5, 6, "claude"), row(6, 7, "bash"), row(7, 6, "bash")});
  EXPECT_EQ(resolveTerminal(5, cyclic.byPid, apps), std::nullopt);
}

TEST(TerminalAppPID, WalksAtMostTenParents) {
  std::vector<PSRow> rows;
  for (int i = 0; i < 15; ++i) rows.push_back(row(100 + i, i == 14 ? 1 : 101 + i, "x"));
  ProcessTable table(std::move(rows));
  FakeApps near({110}), far({111}), self({100, 110});
  EXPECT_EQ(terminalAppPID(100, table.byPid, near), 110);  // the 10th parent
  EXPECT_EQ(terminalAppPID(100, table.byPid, far), 100);   // the 11th is out of reach
  EXPECT_EQ(terminalAppPID(100, table.byPid, self), 100);  // an application itself stays
  ProcessTable cyclic({row(5, 6, "x"), row(6, 5, "y")});
  FakeApps counting;
  EXPECT_EQ(terminalAppPID(5, cyclic.byPid, counting), 5);
  EXPECT_LE(counting.queries, 11);
}

}  // namespace
}  // namespace tovami
