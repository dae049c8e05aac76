#include "agents/agent_recognition.h"

#include <gtest/gtest.h>

namespace tovami {
namespace {

TEST(RecognizeAgent, LowerCasesTheExecutableButNotTheTable) {
  EXPECT_EQ(recognizeAgent("/usr/local/bin/CLAUDE"), "Claude Code");
  EXPECT_EQ(recognizeAgent("Codex exec"), "Codex");
  EXPECT_EQ(recognizeAgent("claude-code"), std::nullopt);
  EXPECT_EQ(recognizeAgent("claudex"), std::nullopt);
  EXPECT_EQ(recognizeAgent("/home/u/.local/share/claude/versions/bin/claude.exe"), "Claude Code");
  EXPECT_EQ(recognizeAgent(".exe"), std::nullopt);
}

TEST(RecognizeAgent, InterpretersNameTheirScript) {
  EXPECT_EQ(recognizeAgent("node /usr/lib/node_modules/@openai/codex/bin/codex"), "Codex");
  EXPECT_EQ(recognizeAgent("/usr/bin/python3 /home/u/.local/bin/aider --model x"), "Aider");
  EXPECT_EQ(recognizeAgent("bun /x/opencode"), "OpenCode");
  EXPECT_EQ(recognizeAgent("python3 -m aider"), std::nullopt);  // a flag is not a script
  EXPECT_EQ(recognizeAgent("node"), std::nullopt);
  EXPECT_EQ(recognizeAgent("node /srv/app/server.js"), std::nullopt);
  EXPECT_EQ(recognizeAgent("ruby /x/claude"), std::nullopt);  // not an interpreter we look into
  EXPECT_EQ(recognizeAgent("node node /x/claude"), std::nullopt);
  // Gemini CLI's relaunched child: interpreter, then a flag.
  EXPECT_EQ(recognizeAgent("/usr/bin/node --max-old-space-size=4096 /x/bin/gemini"), std::nullopt);
}

TEST(RecognizeAgent, BackgroundWorkersAreNotAgents) {
  EXPECT_EQ(recognizeAgent("claude daemon"), std::nullopt);
  EXPECT_EQ(recognizeAgent("codex bg-sync --x"), std::nullopt);
  EXPECT_EQ(recognizeAgent("claude --bg-worker"), std::nullopt);
  EXPECT_EQ(recognizeAgent("node /x/codex daemon"), std::nullopt);
  EXPECT_EQ(recognizeAgent("claude --model opus daemon"), "Claude Code");  // only the next piece counts
  EXPECT_EQ(recognizeAgent("claude daemons"), "Claude Code");
  EXPECT_EQ(recognizeAgent("codex app-server"), "Codex");
}

TEST(RecognizeAgent, EditorExtensionCopiesAreNotAgents) {
  EXPECT_EQ(recognizeAgent("/home/u/.vscode/extensions/anthropic.claude-code-2.1/resources/claude"),
            std::nullopt);
  EXPECT_EQ(recognizeAgent("/home/u/.cursor/extensions/openai.chatgpt/bin/linux-x86_64/codex app-server"),
            std::nullopt);
  EXPECT_EQ(recognizeAgent("node /home/u/.vscode/extensions/x/bin/codex"), std::nullopt);
  EXPECT_EQ(recognizeAgent("/home/u/vscode/extensions/claude"), "Claude Code");
}

TEST(RecognizeAgent, SpacesSeparatePieces) {
  EXPECT_EQ(recognizeAgent("claude --add-dir /home/u/My Project"), "Claude Code");
  EXPECT_EQ(recognizeAgent("  claude   --resume"), "Claude Code");
  EXPECT_EQ(recognizeAgent("node   /x/gemini"), "Gemini CLI");
  // The command line is split at spaces, so an executable whose own path holds a space is read
  // as its first fragment.
  EXPECT_EQ(recognizeAgent("/home/u/My Tools/claude"), std::nullopt);
  EXPECT_EQ(recognizeAgent("claude\t--resume"), std::nullopt);
  EXPECT_EQ(recognizeAgent(""), std::nullopt);
  EXPECT_EQ(recognizeAgent("    "), std::nullopt);
}

}  // namespace
}  // namespace tovami
