// The approval socket over a real unix-domain socket: what a peer sees, and what the server keeps.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "approvals/approval_request.h"
#include "approvals/hook_client.h"
#include "linux/integrations/hook_socket_client.h"
#include "linux/integrations/unix_socket_service.h"

namespace tovami::linux_backend {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using std::this_thread::sleep_for;

// A unix stream socket connected (or bound) to `path`, or -1.
int socketAt(const std::string& path, bool toConnect = true) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{AF_UNIX, {}};
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  const auto* raw = reinterpret_cast<sockaddr*>(&address);
  if ((toConnect ? ::connect(fd, raw, sizeof address) : ::bind(fd, raw, sizeof address)) == 0) return fd;
  ::close(fd);
  return -1;
}

struct PeerResult {
  bool connected = false, closedByServer = false;  // end of stream seen within the wait
  std::string reply;
};

// Reads until the server ends the stream or stays silent for two seconds; then closes.
PeerResult finish(int fd) {
  PeerResult result{fd >= 0};
  pollfd p{fd, POLLIN, 0};
  char buffer[256];
  for (ssize_t got; fd >= 0 && ::poll(&p, 1, 2000) > 0;) {
    if ((result.closedByServer = (got = ::recv(fd, buffer, sizeof buffer, 0)) <= 0)) break;
    result.reply.append(buffer, static_cast<size_t>(got));
  }
  if (fd >= 0) ::close(fd);
  return result;
}

// Writes the pieces (pausing between them), optionally ends its side, then waits for the server.
PeerResult talk(const std::string& path, const std::vector<std::string>& pieces, bool endAfter = false) {
  int fd = socketAt(path);
  for (const auto& piece : pieces) (void)!::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL), sleep_for(5ms);
  if (endAfter) ::shutdown(fd, SHUT_WR);
  return finish(fd);
}

size_t openDescriptors() {
  return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

class ApprovalSocketTest : public ::testing::Test {
 protected:
  fs::path root = fs::temp_directory_path() / ("tovami-sock-" + std::to_string(::getpid()));
  fs::path folder = root / "data" / "Tovami";
  std::string path = (folder / "agent.sock").string();
  std::atomic<size_t> objects{0};  // complete objects handed on

  void SetUp() override { fs::remove_all(root); }
  void TearDown() override { fs::remove_all(root); }

  std::mutex mutex;
  std::vector<std::shared_ptr<ConversationReply>> replies;
  std::atomic<int> ended{0};  // waits that ended without a reply

  // Requests holding {"wait"} wait for a reply kept in `replies`; anything else is read as the server reads
  // it and counted in `objects`.
  ListenOutcome listen(LocalListenerOptions options = {}, UnixSocketService service = UnixSocketService()) {
    return service.listen(path, options, [this] {
      return std::make_unique<ApprovalConversation>(
          [this](const nlohmann::json& object,
                 std::shared_ptr<ConversationReply> reply) -> std::optional<ApprovalConversation::Waiting> {
            if (!object.contains("wait")) {
              if (auto envelope = readEnvelope(object)) approvalRequestFrom(*envelope->payload, "id", 0);
              return (++objects, std::nullopt);
            }
            std::lock_guard lock(mutex);
            replies.push_back(std::move(reply));
            return ApprovalConversation::Waiting{[this] { ++ended; }};
          });
    });
  }
  int askToWait() {
    const int fd = socketAt(path);
    (void)!::send(fd, "{\"wait\":1}", 10, MSG_NOSIGNAL);
    return fd;
  }
  void sendTo(bool first, const std::string& text) {
    std::lock_guard lock(mutex);
    (first ? replies.front() : replies.back())->send(text);
  }
};

TEST_F(ApprovalSocketTest, EachPeerGetsAnEmptyReplyAndAClosedStream) {
  const std::string notice = R"({"hook_event_name":"Notification","message":"Claude needs your permission"})";
  const std::string deep = R"({"protocol":1,"event":"permission-request","payload":{"hook_event_name":)"
                           R"("PermissionRequest","tool_name":"Bash","permission_suggestions":)" +
                           std::string(32000, '[') + std::string(32000, ']') + "}}";
  const std::tuple<std::vector<std::string>, bool, size_t> cases[] = {  // pieces, peer ends, objects kept
      {{notice}, false, 1},  // the peer need not end its side
      {{notice.substr(0, 10), notice.substr(10, 30), notice.substr(40)}, false, 1},
      {{"{\"a\":\"}\"", "}"}, false, 1},  // a brace inside a string ends nothing
      {{"{\"a\":1} trailing"}, true, 0}, {{}, true, 0}, {{"\xff\xfe garbage }"}, true, 0},
      {{std::string(70000, '{')}, false, 0},  // past the cap: closed without the peer ending
      {{deep}, false, 0}};                    // nested past the bound: refused before anything recurses
  auto outcome = listen();
  ASSERT_TRUE(outcome.listener) << outcome.error;
  size_t expected = 0;
  for (const auto& [pieces, peerEnds, kept] : cases) {
    auto result = talk(path, pieces, peerEnds);
    EXPECT_TRUE(result.connected && result.closedByServer && result.reply.empty()) << pieces.size();
    EXPECT_EQ(objects.load(), expected += kept);
  }
  const size_t descriptors = openDescriptors();
  for (int i = 0; i < 2000; ++i) {  // half of them vanish without a word
    int fd = socketAt(path);
    ASSERT_GE(fd, 0) << i;
    if (i % 2 == 0) (void)!::send(fd, "{}", 2, MSG_NOSIGNAL);
    ::close(fd);
  }
  EXPECT_TRUE(talk(path, {"{}"}).closedByServer);
  EXPECT_EQ(openDescriptors(), descriptors);  // nothing left behind
}

TEST_F(ApprovalSocketTest, OwnerOnlyFilesStaleSocketsReplacedLiveOnesKeptReleasedCleanly) {
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::all);  // others could have put anything there
  const auto open = listen();
  EXPECT_TRUE(!open.listener && open.error.find("writable by other users (mode 0777)") != std::string::npos)
      << open.error;
  fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  ASSERT_EQ(::close(socketAt(path, false)), 0);  // a socket file whose server is gone, as after a crash
  auto first = listen();
  ASSERT_TRUE(first.listener) << first.error;
  EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);

  // Something that is not a socket where the socket goes is never deleted: the listen fails.
  first.listener.reset();
  std::ofstream(path) << "notes";
  auto blocked = listen();
  EXPECT_TRUE(!blocked.listener && blocked.error.find("left untouched") != std::string::npos);
  EXPECT_EQ(fs::file_size(path), 5u);
  fs::remove(path);
  first = listen();
  ASSERT_TRUE(first.listener);
  auto second = listen();
  EXPECT_TRUE(!second.listener && second.servedByAnother);
  EXPECT_TRUE(talk(path, {R"({"a":1})"}).closedByServer);  // the first still serves
  EXPECT_EQ(objects.load(), 1u);
  first.listener.reset();
  EXPECT_FALSE(fs::exists(path));
  // A listener let go from inside a conversation, on its own thread, ends cleanly.
  std::unique_ptr<LocalListener> listener;
  std::atomic<bool> released{false};
  listener = UnixSocketService().listen(path, {}, [&] {
    return std::make_unique<ApprovalConversation>([&](const nlohmann::json&) {
      listener.reset(), released = true;  // on the listener's own thread
    });
  }).listener;
  ASSERT_TRUE(listener);
  EXPECT_TRUE(talk(path, {"{}"}).closedByServer);
  EXPECT_TRUE(released && !fs::exists(path));
  EXPECT_FALSE(talk(path, {"{}"}).connected);
}

TEST_F(ApprovalSocketTest, StrangersSilentPeersAndCrowdsAreClosedUnread) {
  {
    auto refusing = listen({}, UnixSocketService(::geteuid() + 1));  // as if we were another user
    ASSERT_TRUE(refusing.listener);
    EXPECT_TRUE(talk(path, {R"({"a":1})"}).closedByServer);
    EXPECT_EQ(objects.load(), 0u);
  }
  auto outcome = listen(LocalListenerOptions{65536, 2, 0.3});
  ASSERT_TRUE(outcome.listener);
  const auto began = std::chrono::steady_clock::now();
  std::vector<int> silent{socketAt(path), socketAt(path)};
  sleep_for(50ms);
  // Silent peers fill the room: a writer still gets through, the oldest silent one gives way.
  EXPECT_TRUE(talk(path, {R"({"a":1})"}).closedByServer);
  EXPECT_EQ(objects.load(), 1u);
  for (int fd : silent) EXPECT_TRUE(finish(fd).closedByServer);  // silent past the 0.3 s allowed
  EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(250));
  std::vector<int> crowd;
  for (int i = 0; i < 50; ++i) crowd.push_back(socketAt(path));
  EXPECT_TRUE(talk(path, {R"({"a":1})"}).closedByServer);
  EXPECT_EQ(objects.load(), 2u);
  for (int fd : crowd) ::close(fd);
}

TEST_F(ApprovalSocketTest, WaitingRequestsHaveTheirOwnRoomAndBoundAndEndOnEitherSide) {
  const LocalListenerOptions options{.maxAwaiting = 3, .awaitLifetime = 0.4};
  auto outcome = listen(options);
  ASSERT_TRUE(outcome.listener);
  std::vector<int> waiting;
  for (int i = 0; i < 5; ++i) waiting.push_back(askToWait());
  sleep_for(100ms);
  EXPECT_EQ(ended.load(), 2);                              // no room for the last two: ended at once
  EXPECT_TRUE(talk(path, {R"({"a":1})"}).closedByServer);  // notices are still served
  EXPECT_EQ(objects.load(), 1u);
  sendTo(true, "{\"behavior\":\"allow\"}");
  sendTo(true, "{\"behavior\":\"deny\"}");  // only the first reply counts
  ::close(waiting[1]);  // this peer leaves: its wait ends
  auto answered = finish(waiting[0]);
  EXPECT_TRUE(answered.closedByServer && answered.reply == "{\"behavior\":\"allow\"}") << answered.reply;
  EXPECT_TRUE(finish(waiting[2]).closedByServer && ended.load() >= 3);  // the bound passed: no reply
  for (int i : {3, 4}) EXPECT_TRUE(finish(waiting[static_cast<size_t>(i)]).reply.empty());
  EXPECT_EQ(ended.load(), 4);  // the answered one never "ended"

  // Waits that reach their bound give their room back: after more than there is room, one still waits.
  for (int round = 0; round < 2; ++round) {
    std::vector<int> expiring;
    for (size_t i = 0; i < options.maxAwaiting; ++i) expiring.push_back(askToWait());
    for (int fd : expiring) EXPECT_TRUE(finish(fd).reply.empty());
  }
  const int last = askToWait();
  sleep_for(100ms);
  sendTo(false, "{\"behavior\":\"allow\"}");
  EXPECT_EQ(finish(last).reply, "{\"behavior\":\"allow\"}");
}

// A waiting client hears keep-alives: they lead its reply, still read as the decision.
TEST_F(ApprovalSocketTest, AWaitingClientHearsKeepAlivesBeforeItsDecision) {
  auto outcome = listen();
  ASSERT_TRUE(outcome.listener) << outcome.error;
  std::atomic<bool> asked{false};
  std::thread server([&] {
    while (!asked) sleep_for(5ms);
    for (int i = 0; i < 15; ++i) {  // 1.5 s of keep-alives, each 0.1 s: longer than the silence bound
      sleep_for(100ms);
      std::lock_guard lock(mutex);
      if (!replies.empty()) replies.back()->keepAlive();
    }
    std::lock_guard lock(mutex);
    replies.back()->send(R"({"protocol":1,"behavior":"allow"})");
    replies.back()->keepAlive();  // after the reply: nothing
  });
  asked = true;
  const auto reply = exchangeWithSocket(path, R"({"wait":1})", 5, nullptr, 1.0);
  server.join();
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->starts_with("\n\n") && reply->ends_with("\n{\"protocol\":1,\"behavior\":\"allow\"}")) << *reply;
  EXPECT_NE(hookOutput(HookEvent::permissionRequest, *reply).find(R"("behavior":"allow")"), std::string::npos);
  EXPECT_EQ(hookOutput(HookEvent::permissionRequest, "\n\n"), "");  // keep-alives alone: no verdict
  // A silent (stopped) server: the client leaves at its bound and the request is withdrawn (test_approvals).
}

// Another user planted a socket answering "allow": the hook client trusts only its own user's socket file and
// server (ours it trusts: the keep-alive test above); the server says whose it is.
TEST_F(ApprovalSocketTest, AnotherUsersSocketIsNeitherTrustedNorTakenForAnotherTovami) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root: the stranger's socket is made with chown() and setuid()";
  constexpr uid_t kStranger = 65534;
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::owner_all);
  // A server bound by us, then (file owner, listening user) handed to the stranger as the case says.
  auto plant = [&](bool strangerOwnsFile) {
    fs::remove(path);
    const pid_t child = ::fork();
    if (child == 0) {
      const int fd = socketAt(path, false);
      ::chmod(path.c_str(), 0666);
      if (fd < 0 || (strangerOwnsFile && ::chown(path.c_str(), kStranger, kStranger) != 0) ||
          ::setgid(kStranger) != 0 || ::setuid(kStranger) != 0 ||
          ::listen(fd, 8) != 0)  // the listener's credentials are taken here
        ::_exit(1);
      static const char kAllow[] = R"({"protocol":1,"behavior":"allow"})";
      for (int peer; (peer = ::accept(fd, nullptr, nullptr)) >= 0; ::close(peer))
        (void)!::write(peer, kAllow, sizeof kAllow - 1);
      ::_exit(0);
    }
    for (int i = 0, fd = -1; i < 200 && fd < 0; ++i)  // until the stranger listens
      (fd = socketAt(path)) >= 0 ? void(finish(fd)) : sleep_for(10ms);
    return child;
  };
  const std::tuple<bool, std::string, std::string> cases[] = {
      // stranger owns the file, what the server says, what the client says
      {true, "the socket " + path + " belongs to another user (uid 65534); remove it",
       "the approval socket " + path + " belongs to another user (uid 65534)"},
      {false, "the socket " + path + " is answered by another user's program (uid 65534); remove it",
       "the server at " + path + " runs as another user (uid 65534)"}};
  for (const auto& [strangerOwnsFile, serverSays, clientSays] : cases) {
    const pid_t stranger = plant(strangerOwnsFile);
    std::string refusal;
    EXPECT_FALSE(exchangeWithSocket(path, "{}", 2, &refusal));
    EXPECT_EQ(refusal, clientSays);
    const auto outcome = listen();
    EXPECT_FALSE(outcome.listener || outcome.servedByAnother);
    EXPECT_EQ(outcome.error, serverSays);
    EXPECT_TRUE(fs::is_socket(path));  // not ours to delete: the user is told
    ::kill(stranger, SIGKILL), ::waitpid(stranger, nullptr, 0);
  }
}

}  // namespace
}  // namespace tovami::linux_backend
