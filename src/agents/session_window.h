// Which top-level window shows an agent's session, among its terminal process's windows: the only
// one, or the only one whose title names the session or its project. One terminal process often
// owns several windows (a terminal server, kitty, urxvtd): the process alone says nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "agents/agent_session.h"
#include "platform/window_activation.h"

namespace tovami {

std::optional<uint64_t> sessionWindowAmong(const std::vector<TopLevelWindow>& windows,
                                           const AgentSession& session);

// Whether `window`, the session's window, shows the session itself rather than another of its
// tabs: a terminal without tabs shows one session a window; in any other the window's title (its
// current tab's) must name the session or its folder.
bool windowShowsSession(const TopLevelWindow& window, const AgentSession& session);

}  // namespace tovami
