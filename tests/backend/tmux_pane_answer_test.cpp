// Answers typed into the agent's pane of a tmux server: finding the server from the agent's
// environment as /proc shows it, and a real tmux run.
#include "approvals/tmux_pane_answer.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "linux/agents/process_runner.h"
#include "linux/jump/proc_jump_environment.h"

namespace tovami::linux_backend {
namespace {

TEST(TmuxPaneAnswerTest, ParsesTheServerFromTheAgentsEnvironment) {
  using namespace std::string_literals;
  const auto root = std::filesystem::path(::testing::TempDir()) / ("tmux-proc-" + std::to_string(::getpid()));
  const auto socketOf = [&](const std::string& environ) {
    std::filesystem::create_directories(root / "7");
    std::ofstream(root / "7" / "environ", std::ios::binary) << environ;
    PosixProcessLauncher launcher;
    ProcJumpEnvironment environment(root.string());
    return TmuxServers(launcher, environment).socketOf(7);
  };
  EXPECT_EQ(socketOf("A=1\0TMUX=/tmp/tmux-0/default,123,0\0B=2\0"s), "/tmp/tmux-0/default");
  EXPECT_FALSE(socketOf("TMUX_PANE=%1\0TERM=xterm\0"s));
  EXPECT_FALSE(socketOf("TMUX=,1,2\0"s));
  std::filesystem::remove_all(root);
}

// Keys reaching the agent's pane and no other are the approvals integration test's to show.
TEST(TmuxPaneAnswerTest, AnAgentOutsideAKnownPaneGetsNothing) {
  TmuxPaneAnswer answer(std::make_shared<PosixProcessLauncher>(), std::make_shared<ProcJumpEnvironment>());
  AgentSession session;
  session.pid = ::getpid();  // outside tmux, or in a server with no such pane
  session.terminalTTY = "pts/99999";
  EXPECT_EQ(answer.sendKey(session, AnswerKey::returnKey), PaneAnswer::Outcome::notInPane);
}

}  // namespace
}  // namespace tovami::linux_backend
