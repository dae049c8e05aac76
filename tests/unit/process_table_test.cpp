#include "agents/process_table.h"

#include <gtest/gtest.h>

#include "agents/process_sampling.h"

namespace tovami {
namespace {

PSRow row(int32_t pid, int32_t ppid, std::string args, double cpu = 0) {
  PSRow r;
  r.pid = pid;
  r.ppid = ppid;
  r.args = std::move(args);
  r.cpuTime = cpu;
  return r;
}

TEST(ParseDuration, ReadsEveryPsFormAndDropsPiecesThatAreNotNumbers) {
  const std::pair<const char*, double> cases[] = {
      {"05:12.34", 312.34}, {"1:02:03", 3723}, {"2-03:04:05", 2 * 86400 + 3 * 3600 + 4 * 60 + 5},
      {"0:00.50", 0.5},     {"", 0},           {"x:10", 10},  // pieces that are not numbers count as none
      {"x-01:00", 60},      {"::7", 7},        {"nan:inf:4", 4}};
  for (const auto& [text, seconds] : cases) EXPECT_DOUBLE_EQ(parseDuration(text), seconds) << text;
}

TEST(ParsePSOutput, ReadsMacAndLinuxLinesAndSkipsMalformedOnes) {
  const auto rows = parsePSOutput(
      "    1     0 ??         0:12.50 3-01:00:00 /sbin/launchd\n"
      "  812   640 ttys003    0:01.02    05:00 /usr/local/bin/claude --model  opus\n"
      " 4242     1 pts/3     00:00:07    12:47 tmux new -s work\n"
      "   77     1 ?         00:00:00    12:47 [kthreadd]\n"
      "  10  1 ?? 0:00 0:00\n"                 // five fields only
      "  abc 1 ?? 0:00 0:00 /bin/zsh\n"        // pid not a number
      "  11 1x ?? 0:00 0:00 /bin/zsh\n"        // ppid not a number
      "  12 1 ?? 0:00 0:00 \n"                 // nothing after the fifth field
      "99999999999 1 ?? 0:00 0:00 /bin/zsh\n"  // past 32 bits
      "\t13\t1 ?? 0:00 0:00 /bin/zsh\n\n\n"    // tabs do not separate
      "\xff\xfe garbage without structure\n");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].pid, 1);
  EXPECT_EQ(rows[0].tty, std::nullopt);
  EXPECT_DOUBLE_EQ(rows[0].cpuTime, 12.5);
  EXPECT_DOUBLE_EQ(rows[0].elapsed, 3 * 86400 + 3600);
  EXPECT_EQ(rows[1].tty, "ttys003");
  EXPECT_EQ(rows[1].args, "/usr/local/bin/claude --model  opus");  // inner spaces kept
  EXPECT_EQ(rows[2].tty, "pts/3");
  EXPECT_EQ(rows[2].ppid, 1);
  EXPECT_EQ(rows[3].tty, std::nullopt);
  EXPECT_TRUE(parsePSOutput("").empty());
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

// /proc gives the real argument boundaries; ps gives one text split at spaces.
TEST(RecognizeAgentRow, UsesRealArgumentsWhenKnown) {
  auto withEnds = [](std::string args, std::vector<uint32_t> ends) {
    PSRow r = row(1, 0, std::move(args));
    r.argumentEnds = std::move(ends);
    return r;
  };
  const std::pair<PSRow, std::optional<std::string>> cases[] = {
      {withEnds("/home/u/my tools/claude", {23}), "Claude Code"},
      {withEnds("node /home/John Smith/lib/claude --resume", {4, 32, 41}), "Claude Code"},
      {withEnds("claude --resume", {15}), "Claude Code"},  // a title rewritten into one argument
      {withEnds("node /x/codex daemon", {4, 13, 20}), std::nullopt},
      {withEnds("/usr/bin/vim /tmp/my claude", {12, 27}), std::nullopt},
      {withEnds("codex", {99}), std::nullopt},               // boundaries that do not fit: no arguments
      {row(1, 0, "/home/u/my tools/claude"), std::nullopt},  // ps: split at spaces
      {row(1, 0, "node  /usr/bin/codex"), "Codex"},
  };
  for (const auto& [r, name] : cases) EXPECT_EQ(recognizeAgentRow(r), name) << r.args;
  EXPECT_EQ(commandArguments(withEnds("a  b", {1, 2, 4})), (std::vector<std::string_view>{"a", "", "b"}));
}

TEST(ProcessTable, BuildsChildrenInOrderAndKeepsTheFirstRowOfARepeatedPid) {
  ProcessTable table({row(1, 0, "init"), row(5, 1, "a"), row(6, 1, "b"), row(5, 1, "again"), row(7, 5, "c")});
  EXPECT_EQ(table.byPid.at(5).args, "a");
  EXPECT_EQ(table.children.at(1), (std::vector<int32_t>{5, 6}));
  EXPECT_EQ(table.children.at(5), (std::vector<int32_t>{7}));
}

TEST(HasAgentAncestor, HidesNestedAgentsButNotSiblings) {
  // shell 10 -> claude 11 -> bash 12 -> claude 13;  shell 10 -> codex 14
  ProcessTable table({row(10, 1, "zsh"), row(11, 10, "claude"), row(12, 11, "bash -c x"),
                      row(13, 12, "claude"), row(14, 10, "codex")});
  const AgentMap agents{{11, "Claude Code"}, {13, "Claude Code"}, {14, "Codex"}};
  EXPECT_FALSE(hasAgentAncestor(11, agents, table.byPid));
  EXPECT_TRUE(hasAgentAncestor(13, agents, table.byPid));
  EXPECT_FALSE(hasAgentAncestor(14, agents, table.byPid));
  EXPECT_FALSE(hasAgentAncestor(99, agents, table.byPid));  // no row
  EXPECT_EQ(recognizeTopAgents(table), (AgentMap{{11, "Claude Code"}, {14, "Codex"}}));
}

TEST(HasAgentAncestor, ExaminesAtMostThirtyGenerationsAndEndsOnCycles) {
  // agent 1000 at the top, then a chain of plain processes, then the agent under test.
  auto chainBelowAgent = [](int generations) {
    std::vector<PSRow> rows{row(1000, 1, "claude")};
    int32_t parent = 1000;
    for (int i = 1; i < generations; ++i) {
      rows.push_back(row(1000 + i, parent, "sh"));
      parent = 1000 + i;
    }
    rows.push_back(row(5000, parent, "claude"));
    return ProcessTable(std::move(rows));
  };
  AgentMap agents{{1000, "Claude Code"}, {5000, "Claude Code"}};
  EXPECT_TRUE(hasAgentAncestor(5000, agents, chainBelowAgent(30).byPid));  // the 30th generation
  EXPECT_FALSE(hasAgentAncestor(5000, agents, chainBelowAgent(31).byPid));

  // Cycles (back to the agent itself, or between other processes up to the bound), missing rows
  // and low pids end the walk.
  agents = {{20, "Codex"}, {21, "Codex"}};
  for (const auto& table :
       {ProcessTable({row(20, 22, "codex"), row(22, 20, "sh")}), ProcessTable({row(20, 20, "codex")}),
        ProcessTable({row(20, 30, "codex"), row(30, 31, "sh"), row(31, 30, "sh")}),
        ProcessTable({row(20, 30, "codex"), row(30, 77, "sh")}),
        ProcessTable({row(20, 1, "codex"), row(1, 0, "codex")})})
    EXPECT_FALSE(hasAgentAncestor(20, agents, table.byPid));
}

TEST(TreeCPUTime, SumsTheTreeWithinFourHundredProcesses) {
  std::vector<PSRow> rows{row(10, 1, "claude", 2.5), row(11, 10, "bash", 0.5), row(12, 11, "cc", 7),
                          row(13, 10, "node", 1), row(20, 1, "other", 100)};
  ProcessTable small(rows);
  EXPECT_DOUBLE_EQ(treeCPUTime(10, small.byPid, small.children), 11);
  EXPECT_DOUBLE_EQ(treeCPUTime(99, small.byPid, small.children), 0);

  std::vector<PSRow> wide{row(10, 1, "claude", 1)};
  for (int i = 0; i < 500; ++i) wide.push_back(row(100 + i, 10, "job", 1));
  ProcessTable big(std::move(wide));
  EXPECT_DOUBLE_EQ(treeCPUTime(10, big.byPid, big.children), 400);

  ProcessTable cyclic({row(10, 11, "claude", 1), row(11, 10, "sh", 2)});
  EXPECT_DOUBLE_EQ(treeCPUTime(10, cyclic.byPid, cyclic.children), 3);  // each process once
}

}  // namespace
}  // namespace tovami
