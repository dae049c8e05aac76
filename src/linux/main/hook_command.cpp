#include "linux/main/hook_command.h"

#include <unistd.h>

#include "approvals/hook_client.h"
#include "linux/integrations/hook_socket_client.h"

namespace tovami::linux_backend {
namespace {

// Agents write the whole input at once and close it; this bounds a writer that does not.
constexpr double kInputSeconds = 5.0;

void writeAll(const std::string& text, int fd) {
  for (std::size_t written = 0; written < text.size();) {
    const ssize_t put = ::write(fd, text.data() + written, text.size() - written);
    if (put <= 0) return;
    written += static_cast<std::size_t>(put);
  }
}

}  // namespace

int runHookCommand(const std::string& eventName, const std::optional<std::string>& givenSocket) {
  const auto event = hookEventNamed(eventName);
  if (!event || *event == HookEvent::statusLine) return 0;  // main() runs the status line itself
  std::string refusal;
  const std::string socketPath = hookSocketPath(givenSocket, claude_code::processEnvironment(), refusal);
  if (!refusal.empty()) {
    writeAll("tovami: no verdict given: " + refusal + "\n", STDERR_FILENO);
    return 0;
  }
  // Without a socket there is nobody to ask: end before reading a byte.
  if (socketPath.empty() || ::access(socketPath.c_str(), F_OK) != 0) return 0;
  const auto input = readInputWithin(STDIN_FILENO, kHookInputLimit, kInputSeconds);
  if (!input) return 0;
  const auto request = hookEnvelope(*event, *input);
  if (!request) return 0;
  const auto reply = exchangeWithSocket(socketPath, *request, hookDecisionBound(*event), &refusal,
                                        hookSilenceBound(claude_code::processEnvironment()));
  if (reply) writeAll(hookOutput(*event, *reply), STDOUT_FILENO);
  // The only line on standard error: the user must learn that someone else's server sits at the path.
  if (!refusal.empty()) writeAll("tovami: no verdict given: " + refusal + "\n", STDERR_FILENO);
  return 0;
}

}  // namespace tovami::linux_backend
