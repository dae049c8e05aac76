// Answers typed into a pane of a private tmux server, and nowhere else.
#include "linux/integrations/tmux_pane_answer.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
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

class TmuxServer {
 public:
  TmuxServer()
      : socket_((fs::temp_directory_path() / ("tovami-tmux-" + std::to_string(::getpid()))).string()) {
    run("new-session -d -s t -x 80 -y 10 'stty -echo; cat -v'");
    run("split-window -t t 'stty -echo; cat -v'");
  }
  ~TmuxServer() { run("kill-server"); }
  std::string run(const std::string& arguments) {
    std::string output;
    FILE* pipe = ::popen(("tmux -S " + socket_ + " " + arguments + " 2>/dev/null").c_str(), "r");
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    ::pclose(pipe);
    return output;
  }
  // pid, tty and id of pane `index`.
  std::vector<std::string> pane(int index) {
    std::istringstream lines(run("list-panes -t t -F '#{pane_pid} #{pane_tty} #{pane_id}'"));
    std::string line;
    for (int i = 0; i <= index; ++i) std::getline(lines, line);
    std::istringstream fields(line);
    std::vector<std::string> parts(3);
    fields >> parts[0] >> parts[1] >> parts[2];
    return parts;
  }

 private:
  std::string socket_;
};

TEST(TmuxPaneAnswerTest, KeysReachTheAgentsPaneOnly) {
  if (::access("/usr/bin/tmux", X_OK) != 0) GTEST_SKIP() << "tmux is not installed";
  TmuxServer server;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto agent = server.pane(0), other = server.pane(1);
  AgentSession session;
  session.pid = std::stoi(agent[0]);
  session.terminalTTY = agent[1].substr(5);  // "pts/N", as the process table names it
  TmuxPaneAnswer answer(std::make_shared<PosixProcessLauncher>());
  ASSERT_TRUE(answer.sendKey(session, AnswerKey::escape));
  ASSERT_TRUE(answer.sendKey(session, AnswerKey::returnKey));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_NE(server.run("capture-pane -p -t " + agent[2]).find("^["), std::string::npos);
  EXPECT_EQ(server.run("capture-pane -p -t " + other[2]).find_first_not_of("\n"), std::string::npos);

  AgentSession outside = session;
  outside.pid = ::getpid();  // this test runs outside tmux (or in another server): no TMUX of this server
  outside.terminalTTY = "pts/99999";
  EXPECT_FALSE(answer.sendKey(outside, AnswerKey::returnKey));
}

}  // namespace
}  // namespace tovami::linux_backend
