// The usage tracker with libcurl and the credential file against a local HTTP server on loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/preference_keys.h"
#include "peers/usage_tracker.h"
#include "linux/integrations/curl_http_client.h"
#include "linux/integrations/posix_file_system.h"
#include "support/memory_preferences.h"
#include "support/virtual_dispatcher.h"

namespace tovami::linux_backend {
namespace {

namespace fs = std::filesystem;

// Answers each request with the reply set last, after an optional delay; keeps the request heads.
struct LoopbackServer {
  struct Reply {
    int status = 200;
    std::string body;
    int delayMs = 0;
  };
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), port = 0;
  std::mutex mutex;
  Reply reply;
  std::vector<std::string> heads;
  std::thread thread;

  LoopbackServer() {
    sockaddr_in address{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(fd, 8);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    thread = std::thread([this] {
      for (int client; (client = ::accept(fd, nullptr, nullptr)) >= 0; ::close(client)) {
        std::string head;
        char buffer[4096];
        for (ssize_t got; head.find("\r\n\r\n") == std::string::npos &&
                          (got = ::recv(client, buffer, sizeof buffer, 0)) > 0;)
          head.append(buffer, static_cast<size_t>(got));
        std::unique_lock lock(mutex);
        heads.push_back(head);
        const Reply now = reply;
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(now.delayMs));
        const std::string text = "HTTP/1.1 " + std::to_string(now.status) +
                                 " X\r\nContent-Length: " + std::to_string(now.body.size()) +
                                 "\r\nConnection: close\r\n\r\n" + now.body;
        (void)!::send(client, text.data(), text.size(), MSG_NOSIGNAL);
      }
    });
  }
  ~LoopbackServer() {
    ::shutdown(fd, SHUT_RDWR);
    thread.join();
    ::close(fd);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/api/oauth/usage"; }
  void set(Reply r) {
    std::lock_guard lock(mutex);
    reply = std::move(r);
  }
  std::vector<std::string> seen() {
    std::lock_guard lock(mutex);
    return heads;
  }
};

TEST(UsageFetchTest, PublishedBodyRefusalMissingLoginAndTimeOut) {
  const fs::path credentials = fs::temp_directory_path() / ("tovami-usage-" + std::to_string(::getpid()));
  std::ofstream(credentials) << R"({"claudeAiOauth":{"accessToken":"tok-123","refreshToken":"r"}})";
  LoopbackServer server;
  server.set({200, R"({"five_hour":{"utilization":24.0,"resets_at":"2026-01-02T19:59:59.600956+00:00"},
    "seven_day":{"utilization":36.0,"resets_at":"2026-01-08T06:59:59.600974+00:00"},
    "seven_day_sonnet":{"utilization":1.0,"resets_at":"x"},"seven_day_opus":null,"extra_usage":{}})"});
  testing::VirtualDispatcher dispatcher;
  testing::MemoryPreferences prefs;
  prefs.setBool(prefs::kUsageTracking, true);
  auto tracker = std::make_shared<UsageTracker>(UsageTrackerDependencies{
      dispatcher, prefs,
      std::make_shared<CredentialFile>(std::make_shared<PosixFileSystem>(), credentials.string()),
      std::make_shared<CurlHttpClient>(), server.url()});
  tracker->start();
  dispatcher.advance(1);
  auto snapshot = tracker->state().snapshot();
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(snapshot->fiveHourPct, 24);
  EXPECT_EQ(snapshot->sevenDayPct, 36);
  ASSERT_EQ(server.seen().size(), 1u);
  for (const char* line : {"GET /api/oauth/usage HTTP", "Authorization: Bearer tok-123\r\n",
                           "anthropic-beta: oauth-2025-04-20\r\n"})
    EXPECT_NE(server.seen()[0].find(line), std::string::npos) << line;

  fs::remove(credentials);  // (a refusal keeps the last snapshot: the tracker's unit test)
  dispatcher.advance(300);
  EXPECT_FALSE(tracker->isRunning());
  EXPECT_FALSE(tracker->state().snapshot());
  EXPECT_EQ(server.seen().size(), 1u);  // no login: no request

  server.set({200, "{}", 1500});  // a slow server ends in a time-out (no status), not a hang
  auto response = CurlHttpClient().get(server.url(), {}, 0.3);
  EXPECT_TRUE(response.status == 0 && response.body.empty() && !response.error.empty()) << response.error;
}

}  // namespace
}  // namespace tovami::linux_backend
