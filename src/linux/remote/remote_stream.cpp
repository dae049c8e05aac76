#include "linux/remote/remote_stream.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>

#include "agents/agent_watcher.h"
#include "linux/agents/proc_sampler.h"
#include "linux/agents/x11_running_apps.h"
#include "linux/main/transcript_lookup.h"
#include "platform/thread_queue.h"
#include "remote/remote_protocol.h"

namespace tovami::linux_backend {
namespace {

bool writeLines(const std::vector<remote::UpMessage>& messages) {
  std::string text;
  for (const auto& message : messages) text += remote::encode(message) + "\n";
  if (text.empty()) return true;
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
}

}  // namespace

int runRemoteStream() {
  SystemClock clock;
  auto sampler = makeLinuxProcessSampler();
  X11RunningApplications apps;
  AgentScanner scanner(*sampler, apps, agentLogs());
  remote::DeltaBuilder rows;
  remote::LineSplitter input;

  if (!writeLines({remote::Hello{remote::kProtocolVersion, TOVAMI_VERSION, clock.now()}})) return 1;
  Seconds nextScan = clock.uptime();
  char buffer[16384];
  for (;;) {
    const Seconds wait = nextScan - clock.uptime();
    if (wait <= 0) {
      if (auto result = scanner.scan(clock.now()); result && !writeLines(rows.update(result->entries))) return 1;
      nextScan = clock.uptime() + AgentWatcher::kScanInterval;
      continue;
    }
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&in, 1, int(std::ceil(wait * 1000)));
    if (ready < 0 && errno != EINTR) return 1;
    if (ready <= 0) continue;
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return 0;  // the desktop ended the link
    std::vector<std::string> lines;
    if (!input.feed(std::string_view(buffer, size_t(got)), lines)) return 1;
    for (const auto& line : lines) {
      std::string error;
      (void)remote::decodeDown(line, error);  // decisions and jumps are not served yet
    }
  }
}

}  // namespace tovami::linux_backend
