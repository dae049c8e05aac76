// The decision road: from starting the real hook client (`tovami --hook permission-request`) to
// its decision printed, with the answer given at once, p50 and p99 beside starting /bin/true in
// the same run; the client's own CPU time; and 100 clients waiting at once, several rounds, with
// the server's descriptors and memory compared before and after.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "approvals/approval_request.h"
#include "approvals/hook_client.h"
#include "linux/integrations/unix_socket_service.h"

extern char** environ;

namespace tovami::linux_backend {
namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

std::string recordedRequest() {
  std::ifstream in(std::string(TOVAMI_TEST_FIXTURES) + "/claude-code/hooks/1796542710612450042-PermissionRequest.json");
  return {std::istreambuf_iterator<char>(in), {}};
}

// A server that allows every request at once (or, with `hold`, keeps them waiting).
struct DecidingServer {
  fs::path data = fs::temp_directory_path() / ("tovami-decision-bench-" + std::to_string(::getpid()));
  std::string path = (data / "Tovami" / "agent.sock").string();
  std::unique_ptr<LocalListener> listener;
  std::mutex mutex;
  std::vector<std::shared_ptr<ConversationReply>> held;

  explicit DecidingServer(bool hold) {
    listener = UnixSocketService()
                   .listen(path, {},
                           [this, hold] {
                             return std::make_unique<ApprovalConversation>(
                                 [this, hold](const nlohmann::json&, std::shared_ptr<ConversationReply> reply)
                                     -> std::optional<ApprovalConversation::Waiting> {
                                   if (!hold) {
                                     reply->send(R"({"protocol":1,"behavior":"allow"})");
                                   } else {
                                     std::lock_guard lock(mutex);
                                     held.push_back(reply);
                                   }
                                   return ApprovalConversation::Waiting{};
                                 });
                           })
                   .listener;
  }
  size_t heldCount() {
    std::lock_guard lock(mutex);
    return held.size();
  }
  void answerAll() {
    std::lock_guard lock(mutex);
    for (auto& reply : held) reply->send(R"({"protocol":1,"behavior":"allow"})");
    held.clear();
  }
  ~DecidingServer() {
    listener.reset();
    fs::remove_all(data);
  }
};

struct Ran {
  double ms = 0;
  double cpuMs = 0;
  std::string output;
};

// Runs argv with `input` on its standard input, reads its output to the end and waits for it.
Ran run(std::vector<const char*> argv, const std::string& input, const std::string& dataHome) {
  std::signal(SIGPIPE, SIG_IGN);  // a client with nobody to ask ends before reading its input
  int in[2], out[2];
  if (::pipe(in) != 0 || ::pipe(out) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string xdg = "XDG_DATA_HOME=" + dataHome;
  std::vector<char*> env{const_cast<char*>(xdg.c_str()), nullptr};
  argv.push_back(nullptr);
  const auto began = Steady::now();
  pid_t pid = 0;
  ::posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv.data()), env.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  (void)!::write(in[1], input.data(), input.size());
  ::close(in[1]);
  Ran result;
  char buffer[4096];
  for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;) result.output.append(buffer, size_t(got));
  ::close(out[0]);
  rusage usage{};
  int status = 0;
  ::wait4(pid, &status, 0, &usage);
  result.ms = std::chrono::duration<double, std::milli>(Steady::now() - began).count();
  result.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                 (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  return result;
}

void report(benchmark::State& state, std::vector<double> ms, std::vector<double> cpu) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  std::sort(cpu.begin(), cpu.end());
  state.counters["p50_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  state.counters["cpu_p50_ms"] = cpu[cpu.size() / 2];
  state.counters["cpu_max_ms"] = cpu.back();
}

// Baseline: starting a process that does nothing.
void BM_StartTrueBaseline(benchmark::State& state) {
  std::vector<double> ms, cpu;
  for (auto _ : state) {
    auto ran = run({"/bin/true"}, "", "/nonexistent");
    ms.push_back(ran.ms);
    cpu.push_back(ran.cpuMs);
  }
  report(state, ms, cpu);
}
BENCHMARK(BM_StartTrueBaseline)->UseRealTime()->Iterations(300);

// Client started -> decision printed, the server answering as soon as the request is read.
void BM_DecisionRoundTrip(benchmark::State& state) {
  DecidingServer server(false);
  const std::string input = recordedRequest();
  std::vector<double> ms, cpu;
  size_t decided = 0;
  for (auto _ : state) {
    auto ran = run({TOVAMI_ENTRY_BINARY, "--hook", "permission-request"}, input, server.data.string());
    decided += ran.output.find("\"allow\"") != std::string::npos;
    ms.push_back(ran.ms);
    cpu.push_back(ran.cpuMs);
  }
  report(state, ms, cpu);
  state.counters["decided"] = static_cast<double>(decided);
}
BENCHMARK(BM_DecisionRoundTrip)->UseRealTime()->Iterations(300);

// Without Tovami: the client's whole life when there is no socket.
void BM_NoTovami(benchmark::State& state) {
  const std::string input = recordedRequest();
  std::vector<double> ms, cpu;
  for (auto _ : state) {
    auto ran = run({TOVAMI_ENTRY_BINARY, "--hook", "permission-request"}, input, "/nonexistent");
    ms.push_back(ran.ms);
    cpu.push_back(ran.cpuMs);
  }
  report(state, ms, cpu);
}
BENCHMARK(BM_NoTovami)->UseRealTime()->Iterations(300);

size_t openDescriptors() {
  return static_cast<size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

long residentKilobytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

// 100 clients (in-process sockets, as the hook client speaks) wait at once, then all are answered.
void BM_HundredWaiting(benchmark::State& state) {
  DecidingServer server(true);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, server.path.c_str(), sizeof address.sun_path - 1);
  const std::string request = *hookEnvelope(HookEvent::permissionRequest, recordedRequest());
  auto round = [&] {
    std::vector<int> clients;
    for (int i = 0; i < 100; ++i) {
      int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
      (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
      clients.push_back(fd);
    }
    while (server.heldCount() < 100) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server.answerAll();
    size_t answered = 0;
    for (int fd : clients) {
      char buffer[256];
      std::string reply;
      for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) reply.append(buffer, size_t(got));
      answered += !reply.empty();
      ::close(fd);
    }
    return answered;
  };
  round();  // warm up: the first round sizes the server's containers
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const size_t descriptors = openDescriptors();
  const long memory = residentKilobytes();
  size_t answered = 0;
  for (auto _ : state) answered += round();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the server closes just after the clients see the end
  state.counters["answered_per_round"] = static_cast<double>(answered) / static_cast<double>(state.iterations());
  state.counters["fd_growth"] = static_cast<double>(openDescriptors()) - static_cast<double>(descriptors);
  state.counters["rss_growth_kb"] = static_cast<double>(residentKilobytes() - memory);
}
BENCHMARK(BM_HundredWaiting)->UseRealTime()->Iterations(50);

}  // namespace
}  // namespace tovami::linux_backend
