// The report of `--list-agents FORMAT`: every agent one scan found, as text for people or as JSON
// for scripts and tests.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agents/agent_session.h"

namespace tovami {

enum class AgentListFormat { text, json };

// "text" or "json"; anything else is nothing.
std::optional<AgentListFormat> parseAgentListFormat(std::string_view value);

// The whole report, ending with a line feed. JSON is an array of objects with the keys pid, agent,
// project, projectPath, terminal, terminalPid, tty, startedAt, ageMinutes, age and transcript
// (null, or an object with title, you, reply, model, activity and updatedAt) and session (an object
// with id: the agent's own session id or null, name: the session's name, waitingFor: what a
// waiting agent waits for or null) and statusLine (null, or what Claude Code's status line last
// said of the session: model, contextPercent, costUsd, branch, pullRequest, updatedAt); absent
// values are null. A row of another machine (`host` set, its project shown "devbox · api" as in the
// views) has a "host" key, its pid on that host and its own project name; a local row has no
// "host" key. Bytes that are not UTF-8 (a folder name can hold any) are shown as U+FFFD. Controls and bidirectional overrides, which would change
// how a terminal shows the report, are "?" in the text and \u escapes in the JSON.
std::string formatAgentList(const std::vector<AgentSession>& sessions, AgentListFormat format);

}  // namespace tovami
