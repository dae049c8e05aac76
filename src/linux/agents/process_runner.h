// Runs external tools for the logic: posix_spawn without a shell, standard output through a pipe,
// standard input and error on /dev/null, a deadline enforced with poll and a pidfd. The output is
// read to its end: a run whose output stays open after the tool exits fails as cut short.
#pragma once

#include <chrono>

#include "agents/process_sampling.h"
#include "platform/processes.h"

namespace tovami::linux_backend {

class PosixProcessLauncher final : public ProcessLauncher {
 public:
  // Output past this many bytes is a fault of the tool: it is stopped and the run fails.
  static constexpr size_t kMaxOutputBytes = 64u << 20;
  // How long a process the tool left behind may keep its output open after the tool exits.
  static constexpr std::chrono::milliseconds kHeirGrace{500};

  ToolRun run(const std::string& path, const std::vector<std::string>& arguments,
              double timeoutSeconds) override;
};

// ps and lsof where this system keeps them (/usr/bin or /bin, /usr/bin or /usr/sbin).
ToolPaths linuxToolPaths();

}  // namespace tovami::linux_backend
