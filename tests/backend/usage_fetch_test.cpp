// The usage tracker with libcurl and the credential file against a local HTTP server on loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/preference_keys.h"
#include "integrations/usage_tracker.h"
#include "linux/integrations/curl_http_client.h"
#include "linux/integrations/posix_file_system.h"
#include "support/memory_preferences.h"
#include "support/virtual_dispatcher.h"

namespace tovami::linux_backend {
namespace {

namespace fs = std::filesystem;

// Answers each request with the reply set last, after an optional delay; keeps the request heads.
class LoopbackServer {
 public:
  struct Reply {
    int status = 200;
    std::string body;
    int delayMs = 0;
  };
  LoopbackServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(fd_, 8);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~LoopbackServer() {
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/api/oauth/usage"; }
  void set(Reply reply) {
    std::lock_guard lock(mutex_);
    reply_ = std::move(reply);
  }
  std::vector<std::string> heads() {
    std::lock_guard lock(mutex_);
    return heads_;
  }

 private:
  void serve() {
    while (true) {
      int client = ::accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      std::string head;
      char buffer[4096];
      while (head.find("\r\n\r\n") == std::string::npos) {
        ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        head.append(buffer, static_cast<size_t>(got));
      }
      Reply reply;
      {
        std::lock_guard lock(mutex_);
        heads_.push_back(head);
        reply = reply_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(reply.delayMs));
      const std::string text = "HTTP/1.1 " + std::to_string(reply.status) +
                               " X\r\nContent-Length: " + std::to_string(reply.body.size()) +
                               "\r\nConnection: close\r\n\r\n" + reply.body;
      (void)!::send(client, text.data(), text.size(), MSG_NOSIGNAL);
      ::close(client);
    }
  }
  int fd_;
  int port_ = 0;
  std::mutex mutex_;
  Reply reply_;
  std::vector<std::string> heads_;
  std::thread thread_;
};

TEST(UsageFetchTest, PublishedBodyFailuresAndMissingLogin) {
  const fs::path folder = fs::temp_directory_path() / ("tovami-usage-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const fs::path credentials = folder / ".credentials.json";
  std::ofstream(credentials)
      << R"({"claudeAiOauth":{"accessToken":"tok-123","refreshToken":"r","scopes":[]}})";
  LoopbackServer server;
  server.set({200, R"({"five_hour":{"utilization":24.0,"resets_at":"2026-01-02T19:59:59.600956+00:00"},
    "seven_day":{"utilization":36.0,"resets_at":"2026-01-08T06:59:59.600974+00:00"},
    "seven_day_sonnet":{"utilization":1.0,"resets_at":"x"},"seven_day_opus":null,"extra_usage":{}})"});
  testing::VirtualDispatcher dispatcher;
  testing::MemoryPreferences prefs;
  prefs.setBool(prefs::kUsageTracking, true);
  auto files = std::make_shared<PosixFileSystem>();
  auto tracker = std::make_shared<UsageTracker>(UsageTrackerDependencies{
      dispatcher, prefs, std::make_shared<CredentialFile>(files, credentials.string()),
      std::make_shared<CurlHttpClient>(), server.url()});
  tracker->start();
  dispatcher.advance(1);
  auto snapshot = tracker->state().snapshot();
  ASSERT_TRUE(snapshot);
  EXPECT_EQ(snapshot->fiveHourPct, 24);
  EXPECT_EQ(snapshot->sevenDayPct, 36);
  EXPECT_NEAR(*snapshot->fiveHourResets, 1767383999.600956, 1e-3);
  ASSERT_EQ(server.heads().size(), 1u);
  EXPECT_NE(server.heads()[0].find("GET /api/oauth/usage HTTP"), std::string::npos);
  EXPECT_NE(server.heads()[0].find("Authorization: Bearer tok-123\r\n"), std::string::npos);
  EXPECT_NE(server.heads()[0].find("anthropic-beta: oauth-2025-04-20\r\n"), std::string::npos);

  for (auto reply : {LoopbackServer::Reply{401, "{}"}, LoopbackServer::Reply{500, "{}"},
                     LoopbackServer::Reply{200, "<html>"}}) {
    server.set(reply);
    dispatcher.advance(300);
    EXPECT_EQ(tracker->state().snapshot(), snapshot) << reply.status;
  }
  EXPECT_EQ(server.heads().size(), 4u);
  fs::remove(credentials);
  dispatcher.advance(300);
  EXPECT_FALSE(tracker->isRunning());
  EXPECT_FALSE(tracker->state().snapshot());
  EXPECT_EQ(server.heads().size(), 4u);  // no login: no request
  fs::remove_all(folder);
}

TEST(UsageFetchTest, ASlowServerEndsInATimeOut) {
  LoopbackServer server;
  server.set({200, "{}", 1500});
  const auto began = std::chrono::steady_clock::now();
  auto response = CurlHttpClient().get(server.url(), {}, 0.3);
  EXPECT_EQ(response.status, 0);
  EXPECT_TRUE(response.body.empty());
  EXPECT_FALSE(response.error.empty());
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(1400));
}

}  // namespace
}  // namespace tovami::linux_backend
