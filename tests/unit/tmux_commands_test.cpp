// Reading tmux's answers: the server in TMUX, the listing of panes and clients, the attention
// listing, and whether a pane's visible text still asks for permission.
#include "agents/tmux_commands.h"

#include <gtest/gtest.h>

namespace tovami::tmux {
namespace {

TEST(TmuxCommands, ServerAndTTYNames) {
  const std::pair<std::string, std::optional<std::string>> sockets[] = {
      {"/tmp/tmux-0/default,123,0", "/tmp/tmux-0/default"},
      {"/tmp/tmux-0/default", "/tmp/tmux-0/default"},
      {",1,2", std::nullopt},
      {"default,1,2", std::nullopt},  // relative: tmux would resolve it against our own folder
      {"", std::nullopt}};
  for (const auto& [value, socket] : sockets) EXPECT_EQ(socketFromEnvironment(value), socket) << value;
  EXPECT_EQ(devicePath("pts/3"), "/dev/pts/3");
  EXPECT_EQ(devicePath("/dev/pts/3"), "/dev/pts/3");
}

TEST(TmuxCommands, ListingsKeepWellFormedLinesOnly) {
  const auto listing = parseListing(
      "P /dev/pts/10 %4 $0\nP /dev/pts/1 %2 $1\nP /dev/pts/7 %5\nP /dev/pts/7 %5 $1 extra\n"
      "C /dev/pts/3 300 $1 17\nC /dev/pts/4 nope $1 1\nC /dev/pts/4 0 $1 1\nC /dev/pts/4 -5 $1 1\n"
      "C /dev/pts/5 301 $0 x\nC /dev/pts/6 99999999999 $0 1\ngarbage\n\n");
  EXPECT_EQ(listing.panes, (std::vector<Pane>{{"/dev/pts/10", "%4", "$0"}, {"/dev/pts/1", "%2", "$1"}}));
  EXPECT_EQ(listing.clients, (std::vector<Client>{{"/dev/pts/3", 300, "$1", 17}}));
  EXPECT_EQ(paneWithTTY(listing, "/dev/pts/1"), (Pane{"/dev/pts/1", "%2", "$1"}));
  EXPECT_FALSE(paneWithTTY(listing, "/dev/pts/7"));

  const auto shown = parseShownPanes(
      "A /dev/pts/8 $1 11\nA /dev/pts/9 $1 10\nA /dev/pts/2 $0 1\n"
      "A /dev/pts/3 $0 11 x\nP /dev/pts/8 %2 $1\nC /dev/pts/4 300 $1 10\n");
  EXPECT_EQ(shown, (std::vector<ShownPane>{{"/dev/pts/8", "$1", true}, {"/dev/pts/9", "$1", false}}));
}

TEST(TmuxCommands, OnlyAPromptAtTheBottomOfThePaneCounts) {
  const std::string prompt =
      " Bash command\n   ls -la /tmp\n Do you want to proceed?\n ❯ 1. Yes\n   2. Yes, and don't ask again\n"
      "   3. No, and tell Claude what to do differently (esc)\n";
  std::string scrolled = prompt;
  for (int i = 0; i < 20; ++i) scrolled += "> typed line " + std::to_string(i) + "\n";
  const std::pair<std::string, bool> cases[] = {
      {prompt, true},
      {prompt + "\n\n\n", true},
      {" 1. Yes\n Esc to cancel\n", true},
      {scrolled, false},                        // answered long ago, the screen moved on
      {"> 1. Yes please, and do it\n", false},  // a draft that merely says "1. Yes"
      {"", false}};
  for (const auto& [text, shown] : cases) EXPECT_EQ(paneShowsPermissionPrompt(text), shown) << text;
}

}  // namespace
}  // namespace tovami::tmux
