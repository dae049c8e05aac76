// The approval socket: a hook's round trip from nc to the empty reply (p50 and p99), beside the
// cost of starting any process, and how many connections a second the server sustains in-process
// with no growth in descriptors.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <vector>

#include "approvals/approval_request.h"
#include "linux/integrations/unix_socket_service.h"

extern char** environ;

namespace tovami::linux_backend {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kPayload =
    R"({"session_id":"0f3c","transcript_path":"/tmp/x.jsonl","cwd":"/home/u/api","prompt_id":"p",)"
    R"("hook_event_name":"Notification","message":"Claude needs your permission","notification_type":"permission_prompt"})";

struct Server {
  std::string path =
      (fs::temp_directory_path() / ("tovami-bench-" + std::to_string(::getpid())) / "agent.sock").string();
  std::atomic<long> objects{0};
  std::unique_ptr<LocalListener> listener;
  Server() {
    listener = UnixSocketService()
                   .listen(path, {},
                           [this] {
                             return std::make_unique<ApprovalConversation>(
                                 [this](const nlohmann::json&) { ++objects; });
                           })
                   .listener;
  }
  ~Server() {
    listener.reset();
    fs::remove_all(fs::path(path).parent_path());
  }
};

// Runs argv with `input` on its standard input and waits for it to end.
void runWithInput(std::vector<const char*> argv, const std::string& input) {
  int in[2];
  if (::pipe(in) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_addclose(&actions, in[1]);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  argv.push_back(nullptr);
  pid_t pid = 0;
  ::posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv.data()), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  (void)!::write(in[1], input.data(), input.size());
  ::close(in[1]);
  ::waitpid(pid, nullptr, 0);
}

void reportPercentiles(benchmark::State& state, std::vector<double>& ms) {
  if (ms.empty()) return;
  std::sort(ms.begin(), ms.end());
  state.counters["p50_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
}

template <typename Fn>
void timed(benchmark::State& state, Fn fn) {
  std::vector<double> ms;
  for (auto _ : state) {
    const auto began = Clock::now();
    fn();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - began).count());
  }
  reportPercentiles(state, ms);
}

// Baseline: starting a process that does nothing with the same input.
void BM_SpawnBaseline(benchmark::State& state) {
  timed(state, [] { runWithInput({"/bin/cat"}, kPayload); });
}
BENCHMARK(BM_SpawnBaseline)->UseRealTime()->Iterations(300);

// What Claude Code's hook does: nc -U with the event on standard input, until the server closes.
void BM_HookRoundTripNc(benchmark::State& state) {
  Server server;
  if (::access("/usr/bin/nc", X_OK) != 0) {
    state.SkipWithError("no /usr/bin/nc");
    return;
  }
  timed(state, [&] { runWithInput({"/usr/bin/nc", "-U", server.path.c_str(), "-w", "50"}, kPayload); });
  state.counters["objects"] = static_cast<double>(server.objects.load());
}
BENCHMARK(BM_HookRoundTripNc)->UseRealTime()->Iterations(300);

size_t openDescriptors() {
  return static_cast<size_t>(
      std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// One client in this process: connect, send the event, wait for the end of stream.
void BM_ConnectionsPerSecond(benchmark::State& state) {
  Server server;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, server.path.c_str(), sizeof address.sun_path - 1);
  const size_t before = openDescriptors();
  timed(state, [&] {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    (void)!::send(fd, kPayload.data(), kPayload.size(), MSG_NOSIGNAL);
    char byte;
    while (::recv(fd, &byte, 1, 0) > 0) {
    }
    ::close(fd);
  });
  state.SetItemsProcessed(state.iterations());
  usleep(100000);  // the server closes its side just after the client saw the end of stream
  state.counters["fd_growth"] = static_cast<double>(openDescriptors()) - static_cast<double>(before);
}
BENCHMARK(BM_ConnectionsPerSecond)->UseRealTime()->MinTime(2.0);

}  // namespace
}  // namespace tovami::linux_backend
