// Running ps and lsof and reading their output, recognising agents and the terminals they run in.
#include "agents/process_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "agents/agent_recognition.h"
#include "agents/agent_watcher.h"
#include "agents/process_sampling.h"
#include "agents/terminal_resolution.h"
#include "support/fake_running_applications.h"

namespace tovami {
namespace {

using FakeApps = testing::FakeRunningApplications;

PSRow row(int32_t pid, int32_t ppid, std::string args, double cpu = 0) {
  return PSRow{pid, ppid, std::nullopt, cpu, 0, std::move(args)};
}

TEST(ParsePSOutput, ReadsMacAndLinuxLinesAndSkipsMalformedOnes) {
  const std::pair<const char*, double> durations[] = {
      {"05:12.34", 312.34},
      {"2-03:04:05", 2 * 86400 + 3 * 3600 + 4 * 60 + 5},
      {"", 0},
      {"nan:inf:4", 4}};  // pieces that are not numbers count as none
  for (const auto& [text, seconds] : durations) EXPECT_DOUBLE_EQ(parseDuration(text), seconds) << text;

  const auto rows = parsePSOutput(
      "  812   640 ttys003    0:01.02    05:00 /usr/local/bin/claude --model  opus\n"
      " 4242     1 pts/3     00:00:07    12:47 tmux new -s work\n"
      "   77     1 ?         00:00:00    12:47 [kthreadd]\n"
      "  10  1 ?? 0:00 0:00\n"                 // five fields only
      "  11 1x ?? 0:00 0:00 /bin/zsh\n"        // ppid not a number
      "99999999999 1 ?? 0:00 0:00 /bin/zsh\n"  // past 32 bits
      "\t13\t1 ?? 0:00 0:00 /bin/zsh\n\n\n"    // tabs do not separate
      "\xff\xfe garbage without structure\n");
  const std::vector<PSRow> expected{
      {812, 640, "ttys003", 1.02, 300, "/usr/local/bin/claude --model  opus"},  // inner spaces kept
      {4242, 1, "pts/3", 7, 767, "tmux new -s work"},
      {77, 1, std::nullopt, 0, 767, "[kthreadd]"}};
  EXPECT_EQ(rows, expected);
}

TEST(ParseLsofOutput, MapsPidsToTheirNames) {
  const auto map = parseLsofOutput(
      "n/ignored/before/any/pid\n"
      "p12\nfcwd\nn/Users/u/proj\n"
      "p13\nfcwd\nn/tmp\nn/tmp/later\n"
      "pxyz\nn/orphan\n"
      "p1\nfcwd\nn/proc/1/cwd (readlink: Permission denied)\n"
      "p14\nn/home/u/My Project\n");
  EXPECT_EQ(map, (std::map<int32_t, std::string>{
                     {12, "/Users/u/proj"}, {13, "/tmp/later"}, {14, "/home/u/My Project"}}));
}

TEST(RecognizeAgent, CommandLines) {
  // The executable's last path component counts, lower-cased, ".exe" dropped. Interpreters name their
  // script; a flag in its place (Gemini CLI's relaunched child) is none. Background workers (only the
  // piece after the agent counts) and editor extensions' private copies are no agents. Only spaces
  // separate pieces, so a path with a space is read as its first fragment.
  const std::pair<const char*, const char*> agents[] = {
      {"/home/u/.local/share/claude/versions/bin/CLAUDE.exe", "Claude Code"},
      {"node /usr/lib/node_modules/@openai/codex/bin/codex", "Codex"},
      {"/usr/bin/python3 /home/u/.local/bin/aider --model x", "Aider"},
      {"node   /x/gemini", "Gemini CLI"},
      {"claude --model opus daemon", "Claude Code"},
      {"/home/u/vscode/extensions/claude", "Claude Code"}};
  for (const auto& [args, agent] : agents) EXPECT_EQ(recognizeAgent(args), agent) << args;
  const char* const others[] = {
      "claude-code", "python3 -m aider", "ruby /x/claude", "claude daemon", "codex bg-sync --x",
      "/home/u/My Tools/claude", "", "/usr/bin/node --max-old-space-size=4096 /x/bin/gemini",
      "/home/u/.vscode/extensions/anthropic.claude-code-2.1/resources/claude",
      "node /home/u/.vscode/extensions/x/bin/codex"};
  for (const char* args : others) EXPECT_EQ(recognizeAgent(args), std::nullopt) << args;
}

// /proc gives the real argument boundaries; ps gives one text split at spaces.
TEST(RecognizeAgent, UsesRealArgumentsWhenKnown) {
  auto withEnds = [](std::string args, std::vector<uint32_t> ends) {
    return PSRow{1, 0, std::nullopt, 0, 0, std::move(args), std::move(ends)};
  };
  const std::pair<PSRow, std::optional<std::string>> cases[] = {
      {withEnds("/home/u/my tools/claude", {23}), "Claude Code"},
      {withEnds("node /home/John Smith/lib/claude --resume", {4, 32, 41}), "Claude Code"},
      {withEnds("claude --resume", {15}), "Claude Code"},    // a title rewritten into one argument
      {withEnds("node /x/codex daemon", {4, 13, 20}), std::nullopt},
      {withEnds("/usr/bin/vim /tmp/my claude", {12, 27}), std::nullopt},
      {withEnds("codex", {99}), std::nullopt},               // boundaries that do not fit: no arguments
      {row(1, 0, "/home/u/my tools/claude"), std::nullopt},  // ps: split at spaces
  };
  for (const auto& [r, name] : cases) EXPECT_EQ(recognizeAgentRow(r), name) << r.args;
  EXPECT_EQ(commandArguments(withEnds("a  b", {1, 2, 4})), (std::vector<std::string_view>{"a", "", "b"}));
}

// Nested agents hide below the outermost one. Codex's daemons as they run once Codex has gone
// (no terminal, adopted by init or by the user's service manager) are no agents; started by hand
// or by a live program they stay what they were.
TEST(RecognizeAgent, TopAgentsLeaveOutNestedOnesAndHelpersLeftBehind) {
  const std::string daemon =
      "/home/u/.codex/packages/app-server-daemon/releases/0.171.0/bin/codex app-server";
  const std::vector<PSRow> rows = {
      {1, 0, std::nullopt, 0, 0, "/sbin/init"},
      {900, 1, std::nullopt, 0, 0, "/usr/lib/systemd/systemd --user"},
      {950, 900, std::nullopt, 0, 0, "/usr/libexec/gnome-terminal-server"},
      {951, 950, "pts/1", 0, 0, "bash"},
      {1000, 1, std::nullopt, 0, 0, daemon + " --listen unix:// --managed-daemon"},
      {1001, 1, std::nullopt, 0, 0, daemon + " daemon pid-update-loop"},
      {1002, 900, std::nullopt, 0, 0, "node /usr/lib/node_modules/@openai/codex/bin/codex exec-server"},
      {1004, 1000, std::nullopt, 0, 0, "codex exec"},                   // works for the helper
      {1010, 951, "pts/1", 0, 0, "codex app-server --listen unix://"},  // started by hand
      {1011, 950, std::nullopt, 0, 0, "codex app-server"},              // a live program's backend
      {1012, 1, std::nullopt, 0, 0, "codex exec fix the tests"},        // its terminal closed: still at work
      {1013, 900, std::nullopt, 0, 0, "claude --resume"},
      {1020, 951, "pts/1", 0, 0, "claude"},  // claude 1020 -> bash 1021 -> claude 1022; codex 1023 beside
      {1021, 1020, "pts/1", 0, 0, "bash -c x"},
      {1022, 1021, "pts/1", 0, 0, "claude"},
      {1023, 951, "pts/1", 0, 0, "codex"},
  };
  const AgentMap top{{1010, "Codex"},       {1011, "Codex"},       {1012, "Codex"},
                     {1013, "Claude Code"}, {1020, "Claude Code"}, {1023, "Codex"}};
  EXPECT_EQ(recognizeTopAgents(ProcessTable(rows)), top);

  // Cycles (back to the agent itself, or between other processes), missing rows and low pids end
  // the walk up.
  const AgentMap agents{{20, "Codex"}, {21, "Codex"}};
  for (const auto& table :
       {ProcessTable({row(20, 22, "codex"), row(22, 20, "sh")}), ProcessTable({row(20, 20, "codex")}),
        ProcessTable({row(20, 30, "codex"), row(30, 31, "sh"), row(31, 30, "sh")}),
        ProcessTable({row(20, 1, "codex"), row(1, 0, "codex")})})
    EXPECT_FALSE(hasAgentAncestor(20, agents, table.byPid));
  EXPECT_FALSE(hasAgentAncestor(99, agents, ProcessTable(std::vector<PSRow>{}).byPid));  // no row
}

TEST(ProcessTable, KeepsTheFirstRowOfARepeatedPidAndSumsEachProcessOfATreeOnce) {
  ProcessTable table({row(10, 1, "claude", 2.5), row(11, 10, "bash", 0.5), row(12, 11, "cc", 7),
                      row(11, 10, "again", 50), row(13, 10, "node", 1), row(20, 1, "other", 100)});
  EXPECT_EQ(table.byPid.at(11).args, "bash");
  EXPECT_EQ(table.children.at(10), (std::vector<int32_t>{11, 13}));
  EXPECT_DOUBLE_EQ(treeCPUTime(10, table.byPid, table.children), 11);
  EXPECT_DOUBLE_EQ(treeCPUTime(99, table.byPid, table.children), 0);
  ProcessTable cyclic({row(10, 11, "claude", 1), row(11, 10, "sh", 2)});
  EXPECT_DOUBLE_EQ(treeCPUTime(10, cyclic.byPid, cyclic.children), 3);
}

TEST(ProcessTable, ATableAssignedAgainIsTheTableOfItsNewRows) {
  // The watcher keeps its table from scan to scan: processes leave, arrive, move to another parent,
  // a pid comes back as another process, a pid is listed twice. Rows come unnumbered (ps) or
  // numbered by their sampler, where one it did not read again (tmux) keeps its number and brings
  // only a new elapsed time.
  const auto numbered = [](PSRow r, uint64_t revision, double elapsed = 0) {
    r.revision = revision;
    r.elapsed = elapsed;
    return r;
  };
  const std::vector<std::vector<PSRow>> scans = {
      {numbered(row(10, 1, "claude", 2), 1), numbered(row(11, 10, "bash"), 2), numbered(row(12, 11, "cc"), 3),
       numbered(row(20, 1, "tmux"), 4)},
      {numbered(row(10, 1, "claude", 3), 5), numbered(row(12, 1, "cc"), 6), numbered(row(21, 20, "zsh"), 7),
       numbered(row(20, 1, "tmux"), 4, 3)},
      {numbered(row(10, 1, "claude", 3), 5), numbered(row(12, 1, "cc"), 6), numbered(row(21, 10, "zsh"), 10),
       numbered(row(20, 1, "tmux"), 4, 4)},
      {numbered(row(11, 20, "codex"), 8), row(11, 10, "again"), numbered(row(30, 11, "node"), 9),
       numbered(row(20, 1, "tmux"), 4, 6)},
      {}};
  const std::vector<std::pair<std::vector<int32_t>, std::vector<int32_t>>> changedAndRemoved = {
      {{10, 11, 12, 20}, {}}, {{10, 12, 21}, {11}}, {{21}, {}}, {{11, 30}, {10, 12, 21}}, {{}, {11, 20, 30}}};
  for (const bool withNumbers : {false, true}) {
    ProcessTable reused;
    for (size_t scan = 0; scan < scans.size(); ++scan) {
      auto rows = scans[scan];
      if (!withNumbers)
        for (auto& r : rows) r.revision = 0;
      reused.assign(rows);
      const ProcessTable fresh(rows);
      EXPECT_EQ(reused.byPid, fresh.byPid);
      EXPECT_EQ(reused.children, fresh.children);
      if (!withNumbers) continue;
      auto removed = reused.removed();
      std::sort(removed.begin(), removed.end());
      EXPECT_EQ(std::pair(reused.changed(), removed), changedAndRemoved[scan]) << "scan " << scan;
    }
  }
}

TEST(ResolveTerminal, MatchesTerminalExecutablesByPrefixOrExactly) {
  // "st" must match whole; the match is case-sensitive.
  const std::pair<const char*, const char*> cases[] = {
      {"gnome-terminal-server", "GNOME Terminal"}, {"st", "st"}, {"startplasma-x11", ""}, {"codex", ""},
      {"Kitty", ""}};
  for (const auto& [executable, name] : cases) {
    const auto* match = terminalAppFor(executable);
    EXPECT_EQ(match ? match->terminalName : "", std::string(name)) << executable;
  }
}

TEST(ResolveTerminal, FindsTmuxTheTerminalApplicationOrTheApplicationOwningTheWindows) {
  // tmux server 50 (parent 1) -> zsh 51 -> claude 52
  ProcessTable table({row(50, 1, "tmux new -s work"), row(51, 50, "-zsh"), row(52, 51, "claude")});
  FakeApps none;
  EXPECT_EQ(resolveTerminal(52, table.byPid, none), (TerminalMatch{"tmux", 50}));

  // kitty 70 (owns windows) -> kitten 71 -> zsh 72 -> claude 73
  table = ProcessTable({row(70, 5, "/usr/bin/kitty"), row(71, 70, "kitty-helper"), row(72, 71, "zsh"),
                        row(73, 72, "claude"), row(5, 1, "systemd --user")});
  // The matched ancestor (71) is not an application: the highest application above it wins.
  using Owners = std::pair<std::set<int32_t>, int32_t>;
  for (const auto& [owners, owner] : {Owners{{70, 5}, 5}, Owners{{70}, 70}, Owners{{}, 71}}) {
    FakeApps apps(owners);
    EXPECT_EQ(resolveTerminal(73, table.byPid, apps), (TerminalMatch{"kitty", owner})) << owner;
  }

  // Terminals written in Python are known by their script.
  table = ProcessTable({row(80, 1, "/usr/bin/python3 /usr/bin/terminator"), row(81, 80, "bash"),
                        row(82, 81, "aider"), row(90, 1, "python3 -m http.server"), row(91, 90, "claude")});
  EXPECT_EQ(resolveTerminal(82, table.byPid, none), (TerminalMatch{"Terminator", 80}));
  EXPECT_EQ(resolveTerminal(91, table.byPid, none), std::nullopt);

  // No parent, the parent gone, no terminal among the ancestors, a cycle of shells.
  for (const auto& t : {ProcessTable({row(9, 0, "claude")}), ProcessTable({row(9, 8, "claude")}),
                        ProcessTable({row(9, 8, "claude"), row(8, 1, "sshd: u@pts/0")}),
                        ProcessTable({row(9, 6, "claude"), row(6, 7, "bash"), row(7, 6, "bash")})})
    EXPECT_EQ(resolveTerminal(9, t.byPid, none), std::nullopt);
}

TEST(ResolveTerminal, TheApplicationIsAtMostTenParentsUp) {
  std::vector<PSRow> rows;
  for (int i = 0; i < 15; ++i) rows.push_back(row(100 + i, i == 14 ? 1 : 101 + i, "x"));
  ProcessTable table(std::move(rows)), cyclic({row(5, 6, "x"), row(6, 5, "y")});
  FakeApps near({110}), far({111}), self({100, 110}), counting;
  EXPECT_EQ(terminalAppPID(100, table.byPid, near), 110);  // the 10th parent
  EXPECT_EQ(terminalAppPID(100, table.byPid, far), 100);   // the 11th is out of reach
  EXPECT_EQ(terminalAppPID(100, table.byPid, self), 100);  // an application itself stays
  EXPECT_EQ(terminalAppPID(5, cyclic.byPid, counting), 5);
  EXPECT_LE(counting.queries, 11);
}

// Hands back the run it is given.
struct FakeLauncher final : ProcessLauncher {
  ToolRun run(const std::string&, const std::vector<std::string>&, double) override { return next; }
  ToolRun next{ToolRun::Outcome::finished, "", ""};
};

TEST(RunTool, ReturnsFinishedUtf8OutputOnly) {
  FakeLauncher launcher;
  launcher.next = {ToolRun::Outcome::finished, "caf\xc3\xa9 \xe2\x9c\x93 \xf0\x9f\x98\xba\n", ""};
  EXPECT_EQ(runTool(launcher, "/bin/ps", {"-a"}, 5.0), "caf\xc3\xa9 \xe2\x9c\x93 \xf0\x9f\x98\xba\n");

  // Not UTF-8: overlong, surrogate, past U+10FFFF, cut short, a lone continuation byte, binary.
  for (const char* bad :
       {"\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x9c", "\x80", "\x89PNG\r\n\xff"}) {
    launcher.next = {ToolRun::Outcome::finished, bad, ""};
    EXPECT_EQ(runTool(launcher, "/bin/ps", {}, 5.0), std::nullopt) << bad;
  }
  launcher.next = {ToolRun::Outcome::timedOut, "partial", ""};
  EXPECT_EQ(runTool(launcher, "/usr/bin/lsof", {}, 5.0), std::nullopt);
}

}  // namespace
}  // namespace tovami
