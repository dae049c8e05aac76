// Answers typed into the agent's pane of a tmux server: finding the server and the pane.
#include "linux/integrations/tmux_pane_answer.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "linux/agents/process_runner.h"

namespace tovami::linux_backend {
namespace {

TEST(TmuxPaneAnswerTest, ParsesTheServerAndThePane) {
  using namespace std::string_literals;
  EXPECT_EQ(tmuxSocketFromEnvironment("A=1\0TMUX=/tmp/tmux-0/default,123,0\0B=2\0"s), "/tmp/tmux-0/default");
  EXPECT_FALSE(tmuxSocketFromEnvironment("TMUX_PANE=%1\0TERM=xterm\0"s));
  EXPECT_FALSE(tmuxSocketFromEnvironment("TMUX=,1,2\0"s));
  EXPECT_EQ(paneWithTTY("/dev/pts/10 %4\n/dev/pts/1 %2\n", "/dev/pts/1"), "%2");
  EXPECT_FALSE(paneWithTTY("/dev/pts/10 %4\n", "/dev/pts/1"));
}

// Keys reaching the agent's pane and no other are the approvals integration test's to show.
TEST(TmuxPaneAnswerTest, AnAgentOutsideAKnownPaneGetsNothing) {
  TmuxPaneAnswer answer(std::make_shared<PosixProcessLauncher>());
  AgentSession session;
  session.pid = ::getpid();  // outside tmux, or in a server with no such pane
  session.terminalTTY = "pts/99999";
  EXPECT_EQ(answer.sendKey(session, AnswerKey::returnKey), PaneAnswer::Outcome::notInPane);
}

TEST(TmuxPaneAnswerTest, OnlyAPromptAtTheBottomOfThePaneCounts) {
  const std::string prompt =
      " Bash command\n   ls -la /tmp\n Do you want to proceed?\n ❯ 1. Yes\n   2. Yes, and don't ask again\n"
      "   3. No, and tell Claude what to do differently (esc)\n";
  std::string scrolled = prompt;
  for (int i = 0; i < 20; ++i) scrolled += "> typed line " + std::to_string(i) + "\n";
  const std::pair<std::string, bool> cases[] = {
      {prompt, true},
      {prompt + "\n\n\n", true},
      {" 1. Yes\n Esc to cancel\n", true},
      {scrolled, false},                              // answered long ago, the screen moved on
      {"> 1. Yes please, and do it\n", false},       // a draft that merely says "1. Yes"
      {"", false}};
  for (const auto& [text, shown] : cases) EXPECT_EQ(paneShowsPermissionPrompt(text), shown) << text;
}

}  // namespace
}  // namespace tovami::linux_backend
