#include "agents/agent_recognition.h"

#include <gtest/gtest.h>

#include "agents/process_sampling.h"

namespace tovami {
namespace {

TEST(RecognizeAgent, CommandLines) {
  const std::pair<const char*, const char*> cases[] = {
      // The executable's last path component, lower-cased, an ".exe" suffix dropped.
      {"/usr/local/bin/CLAUDE", "Claude Code"},
      {"Codex exec", "Codex"},
      {"/home/u/.local/share/claude/versions/bin/claude.exe", "Claude Code"},
      {"claude-code", nullptr},
      {"claudex", nullptr},
      {".exe", nullptr},
      // Interpreters name their script; a flag in its place is no script.
      {"node /usr/lib/node_modules/@openai/codex/bin/codex", "Codex"},
      {"/usr/bin/python3 /home/u/.local/bin/aider --model x", "Aider"},
      {"python3 -m aider", nullptr},
      {"node /srv/app/server.js", nullptr},
      {"ruby /x/claude", nullptr},
      {"node node /x/claude", nullptr},
      {"node", nullptr},
      {"node   /x/gemini", "Gemini CLI"},
      {"/usr/bin/node --max-old-space-size=4096 /x/bin/gemini", nullptr},  // Gemini CLI's relaunched child
      // Background workers: only the piece after the agent counts.
      {"claude daemon", nullptr},
      {"codex bg-sync --x", nullptr},
      {"claude --bg-worker", nullptr},
      {"node /x/codex daemon", nullptr},
      {"claude --model opus daemon", "Claude Code"},
      {"claude daemons", "Claude Code"},
      // An editor extension's private copy.
      {"/home/u/.vscode/extensions/anthropic.claude-code-2.1/resources/claude", nullptr},
      {"/home/u/.cursor/extensions/openai.chatgpt/bin/linux-x86_64/codex app-server", nullptr},
      {"node /home/u/.vscode/extensions/x/bin/codex", nullptr},
      {"/home/u/vscode/extensions/claude", "Claude Code"},
      // Only spaces separate pieces, so a path with a space is read as its first fragment.
      {"claude --add-dir /home/u/My Project", "Claude Code"},
      {"  claude   --resume", "Claude Code"},
      {"/home/u/My Tools/claude", nullptr},
      {"claude\t--resume", nullptr},
      {"    ", nullptr},
      {"", nullptr},
  };
  for (const auto& [args, agent] : cases)
    EXPECT_EQ(recognizeAgent(args), agent ? std::optional<std::string>(agent) : std::nullopt) << args;
}

// Codex's daemons as they run once Codex has gone: no terminal, adopted by init or by the
// user's service manager. Left behind they are no agents; started by hand or by a live program
// they stay what they were.
TEST(RecognizeAgent, HelpersLeftBehindByTheirAgentAreNotListed) {
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
      {1003, 900, std::nullopt, 0, 0, "opencode serve --port 4096"},
      {1004, 1000, std::nullopt, 0, 0, "codex exec"},                   // works for the helper
      {1010, 951, "pts/1", 0, 0, "codex app-server --listen unix://"},  // started by hand
      {1011, 950, std::nullopt, 0, 0, "codex app-server"},              // a live program's backend
      {1012, 1, std::nullopt, 0, 0, "codex exec fix the tests"},        // its terminal closed: still at work
      {1013, 900, std::nullopt, 0, 0, "claude --resume"},
  };
  EXPECT_EQ(recognizeTopAgents(ProcessTable(rows)),
            (AgentMap{{1010, "Codex"}, {1011, "Codex"}, {1012, "Codex"}, {1013, "Claude Code"}}));
}

}  // namespace
}  // namespace tovami
