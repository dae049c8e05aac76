#include "linux/integrations/claude_status_source.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

namespace tovami::linux_backend {

std::optional<uint64_t> processStartTicks(int32_t pid, const std::string& procRoot) {
  if (pid <= 0) return std::nullopt;
  std::ifstream file(procRoot + "/" + std::to_string(pid) + "/stat");
  const std::string stat((std::istreambuf_iterator<char>(file)), {});
  // The command name (field 2) may hold spaces and parentheses: count from the last ")".
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int index = 3; fields >> field; ++index)
    if (index == 22) {
      try {
        return std::stoull(field);
      } catch (...) {
        return std::nullopt;
      }
    }
  return std::nullopt;
}

std::function<std::optional<ClaudeSessionStatus>(int32_t pid)> claudeStatusSource(
    claude_code::ClaudeCodeLocations locations) {
  auto reader = std::make_shared<ClaudeSessionStatusReader>(std::move(locations));
  return [reader](int32_t pid) -> std::optional<ClaudeSessionStatus> {
    const auto start = processStartTicks(pid);
    if (!start) return std::nullopt;  // the process is gone: so is its session
    return reader->read(pid, start);
  };
}

}  // namespace tovami::linux_backend
