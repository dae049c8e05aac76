#include "linux/main/entry.h"

#include <unistd.h>

#include <cstdio>

#include "agents/agent_listing.h"
#include "agents/agent_watcher.h"
#include "linux/agents/proc_sampler.h"
#include "linux/agents/x11_running_apps.h"
#include "approvals/hook_client.h"
#include "linux/integrations/posix_file_system.h"
#include "linux/main/hook_command.h"
#include "linux/main/transcript_lookup.h"
#include "linux/remote/remote_rows_runtime_file.h"
#include "linux/remote/remote_stream.h"
#include "platform/thread_queue.h"

namespace tovami::linux_backend {
namespace {

// --list-agents FORMAT: one scan, printed to standard output.
int listAgents(const std::string& format) {
  const auto parsed = parseAgentListFormat(format);
  if (!parsed) {
    std::fprintf(stderr, "tovami: --list-agents takes \"text\" or \"json\", not \"%s\"\n", format.c_str());
    return 2;
  }
  SystemClock clock;
  auto sampler = makeLinuxProcessSampler();
  X11RunningApplications apps;
  AgentScanner scanner(*sampler, apps, agentLogs());
  const auto result = scanner.scan(clock.now());
  if (!result) {
    std::fprintf(stderr, "tovami: the process table could not be read\n");
    return 1;
  }
  // What the running desktop program keeps: what Claude Code's status line last said of each
  // session, and the agents of other machines.
  StatusLineSessions feeds;
  std::vector<AgentSession> remoteRows;
  if (const std::string folder = runtimeFolder(claude_code::processEnvironment()); !folder.empty()) {
    const auto file = PosixFileSystem().read(folder + "/" + kStatusLinesFile);
    if (file.status == FileContents::Status::ok) feeds = StatusLineSessions::parsed(file.bytes, clock.now());
    remoteRows = readRemoteRows(folder, clock.now());
  }
  const auto entries = remote::listedAgents(result->entries, feeds, std::move(remoteRows));
  const std::string report = formatAgentList(entries, *parsed);
  const bool written = std::fwrite(report.data(), 1, report.size(), stdout) == report.size();
  return std::fflush(stdout) == 0 && written ? 0 : 1;
}

}  // namespace

std::optional<int> answerWithoutToolkit(const LaunchRequest& request) {
  using Kind = LaunchRequest::Kind;
  switch (request.kind) {
    case Kind::help:
      std::fputs(usageText(unavailableOneShots()).c_str(), stdout);
      return 0;
    case Kind::version:
      std::puts("tovami " TOVAMI_VERSION);
      return 0;
    case Kind::missingValue:
      std::fprintf(stderr, "tovami: %s needs a value (see tovami --help)\n", request.oneShot.name.c_str());
      return 2;
    case Kind::misplacedSwitch:
      std::fprintf(stderr, "tovami: %s goes with --hook only (see tovami --help)\n",
                   request.oneShot.name.c_str());
      return 2;
    case Kind::unknownSwitch: {
      std::string shown = request.oneShot.name;  // as typed, but never a terminal's control sequence
      for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
      std::fprintf(stderr, "tovami: unknown argument \"%s\" (see tovami --help)\n", shown.c_str());
      return 2;
    }
    case Kind::oneShot:
      if (request.oneShot.name == switches::kListAgents) return listAgents(request.oneShot.value);
      if (request.oneShot.name == switches::kHook)
        return runHookCommand(request.oneShot.value, request.oneShot.socket);
      // The renders and the accessibility and Warp tools run in the desktop program.
      for (auto unavailable : unavailableOneShots())
        if (request.oneShot.name == unavailable) {
          std::fprintf(stderr, "tovami: %s is not available in this build\n", request.oneShot.name.c_str());
          return 2;
        }
      return std::nullopt;
    case Kind::remoteStream:
      return runRemoteStream();
    case Kind::runApp:
      break;
  }
  return std::nullopt;
}

std::vector<std::string_view> unavailableOneShots() {
  return {};
}

std::string desktopProgramPath(const std::string& selfPath) {
  const auto slash = selfPath.rfind('/');
  if (slash != std::string::npos) {
    std::string beside = selfPath.substr(0, slash + 1) + "tovami-desktop";
    if (::access(beside.c_str(), X_OK) == 0) return beside;
  }
  return TOVAMI_DESKTOP_PROGRAM;
}

}  // namespace tovami::linux_backend
