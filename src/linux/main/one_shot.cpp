#include "linux/main/one_shot.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "agents/agent_listing.h"
#include "linux/agents/proc_sampler.h"
#include "linux/agents/x11_running_apps.h"
#include "linux/main/transcript_lookup.h"
#include "linux/nap/overlay_renderer.h"
#include "linux/qt/qt_dispatcher.h"
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
  AgentScanner scanner(*sampler, apps, transcriptLookup());
  const auto result = scanner.scan(clock.now());
  if (!result) {
    std::fprintf(stderr, "tovami: the process table could not be read\n");
    return 1;
  }
  const std::string report = formatAgentList(result->entries, *parsed);
  const bool written = std::fwrite(report.data(), 1, report.size(), stdout) == report.size();
  return std::fflush(stdout) == 0 && written ? 0 : 1;
}

// --render-overlay PATH: the nap scene as a PNG, whatever display the session has.
int renderOverlayStill(const std::string& path, int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication application(argc, argv);
  QtDispatcher dispatcher;
  return renderOverlay(path, dispatcher) ? 0 : 1;  // a failure has said "render failed"
}

}  // namespace

int runOneShot(const OneShotRequest& request, int argc, char** argv) {
  if (request.name == switches::kListAgents) return listAgents(request.value);
  if (request.name == switches::kRenderOverlay) return renderOverlayStill(request.value, argc, argv);
  std::fprintf(stderr, "tovami: %s is not available in this build\n", request.name.c_str());
  return 2;
}

std::vector<std::string_view> unavailableOneShots() {
  return {switches::kRenderIsland, switches::kDumpAx, switches::kWarpJump};
}

}  // namespace tovami::linux_backend
