// Answers typed into a pane of a private tmux server, and nowhere else.
#include "linux/integrations/tmux_pane_answer.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "linux/agents/process_runner.h"

namespace tovami::linux_backend {
namespace {

namespace fs = std::filesystem;

TEST(TmuxPaneAnswerTest, ParsesTheServerAndThePane) {
  using namespace std::string_literals;
  EXPECT_EQ(tmuxSocketFromEnvironment("A=1\0TMUX=/tmp/tmux-0/default,123,0\0B=2\0"s), "/tmp/tmux-0/default");
  EXPECT_FALSE(tmuxSocketFromEnvironment("TMUX_PANE=%1\0TERM=xterm\0"s));
  EXPECT_FALSE(tmuxSocketFromEnvironment("TMUX=,1,2\0"s));
  EXPECT_EQ(paneWithTTY("/dev/pts/10 %4\n/dev/pts/1 %2\n", "/dev/pts/1"), "%2");
  EXPECT_FALSE(paneWithTTY("/dev/pts/10 %4\n", "/dev/pts/1"));
}

TEST(TmuxPaneAnswerTest, KeysReachTheAgentsPaneOnly) {
  if (::access("/usr/bin/tmux", X_OK) != 0) GTEST_SKIP() << "tmux is not installed";
  const std::string socket =
      (fs::temp_directory_path() / ("tovami-tmux-" + std::to_string(::getpid()))).string();
  auto tmux = [&](const std::string& arguments) {
    std::string output(65536, '\0');
    FILE* pipe = ::popen(("tmux -S " + socket + " " + arguments + " 2>/dev/null").c_str(), "r");
    output.resize(std::fread(output.data(), 1, output.size(), pipe));
    ::pclose(pipe);
    return output;
  };
  tmux("new-session -d -s t -x 80 -y 10 'stty -echo; cat -v' \\; split-window -t t 'stty -echo; cat -v'");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::istringstream panes(tmux("list-panes -t t -F '#{pane_pid} #{pane_tty} #{pane_id}'"));
  std::string pid, tty, agentPane, otherPane;
  panes >> pid >> tty >> agentPane >> otherPane >> otherPane >> otherPane;
  AgentSession session;
  session.pid = std::stoi(pid);
  session.terminalTTY = tty.substr(5);  // "pts/N", as the process table names it
  TmuxPaneAnswer answer(std::make_shared<PosixProcessLauncher>());
  EXPECT_TRUE(answer.sendKey(session, AnswerKey::escape) && answer.sendKey(session, AnswerKey::returnKey));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_NE(tmux("capture-pane -p -t " + agentPane).find("^["), std::string::npos);
  EXPECT_EQ(tmux("capture-pane -p -t " + otherPane).find_first_not_of("\n"), std::string::npos);
  session.pid = ::getpid();  // this test runs outside tmux (or in another server): no TMUX of this server
  session.terminalTTY = "pts/99999";
  EXPECT_FALSE(answer.sendKey(session, AnswerKey::returnKey));
  tmux("kill-server");
}

}  // namespace
}  // namespace tovami::linux_backend
