#include "agents/terminal_jump.h"

#include "platform/log.h"

namespace tovami {

void LoggingTerminalJump::jump(const AgentSession& session) {
  logInfo(log_categories::kAgentWatch,
          "jump to the terminal of " + session.agentName + " [" + std::to_string(session.pid) + "] in " +
              session.terminalName.value_or("an unknown terminal") + " (not available in this build)");
}

}  // namespace tovami
