// The approval socket's protocol (docs/approval-protocol.md) and the logic of the hook client,
// "tovami --hook EVENT": what it sends for a hook's standard input, how long it waits, and what it
// prints for the server's reply. Everything here is pure; the socket is the backend's.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "approvals/approval_request.h"
#include "peers/claude_code_peer.h"
#include "platform/scheduler.h"

namespace tovami {

// Where the socket lives: $XDG_DATA_HOME/Tovami/agent.sock (~/.local/share when the variable is
// unset or not an absolute path). Empty without a home folder.
std::string approvalSocketPath(const claude_code::EnvironmentLookup& environment);

// Tovami's runtime folder (the feed's file for "--list-agents", the presence file):
// $XDG_RUNTIME_DIR/tovami when that is an absolute path, else the approval socket's folder. Empty
// without either.
std::string runtimeFolder(const claude_code::EnvironmentLookup& environment);
inline constexpr const char* kStatusLinesFile = "status-lines.json";

// The socket the hook client asks: the path its command line names ("--socket PATH", as the
// installer writes it: the server's own path, whatever the agent's environment says), exactly;
// for an entry written before that switch existed, approvalSocketPath() of the client's
// environment. A given path that is not absolute (it would depend on the agent's working folder)
// is refused: empty, with `refusal` saying why in words. Empty without `refusal`: nowhere to ask.
std::string hookSocketPath(const std::optional<std::string>& given,
                           const claude_code::EnvironmentLookup& environment, std::string& refusal);

namespace approval_protocol {
inline constexpr int kVersion = 1;
inline constexpr const char* kProtocolKey = "protocol";
inline constexpr const char* kEventKey = "event";
inline constexpr const char* kPayloadKey = "payload";
inline constexpr const char* kBehaviorKey = "behavior";
inline constexpr const char* kMessageKey = "message";
inline constexpr const char* kInterruptKey = "interrupt";
inline constexpr const char* kUpdatedPermissionsKey = "updatedPermissions";
inline constexpr const char* kPidsKey = "pids";  // status-line: the wrapper's ancestors
}  // namespace approval_protocol

// statusLine: Claude Code's status line input, forwarded by the wrapper; never waits for a reply.
enum class HookEvent { notification, permissionRequest, codexPermissionRequest, statusLine };

// "notification", "permission-request", "codex-permission-request", "status-line".
std::optional<HookEvent> hookEventNamed(std::string_view name);
std::string_view hookEventName(HookEvent event);
bool waitsForDecision(HookEvent event);
ApprovalAgent agentOf(HookEvent event);

// The timeout each agent's permission hook entry is installed with, and the one place the waits are
// derived from: the client waits kHookEndMargin less, so it ends on its own and says nothing rather
// than being killed, and the server's card goes with it. Codex shows its own prompt only after the
// hook ends: its short timeout keeps that wait bearable when nobody answers.
inline constexpr int kClaudePermissionTimeout = 300;
inline constexpr int kCodexPermissionTimeout = 35;
inline constexpr Seconds kHookEndMargin = 10;

// How long the client waits for a decision (nothing for a notice).
constexpr Seconds hookDecisionBound(HookEvent event) {
  switch (event) {
    case HookEvent::permissionRequest:
      return kClaudePermissionTimeout - kHookEndMargin;
    case HookEvent::codexPermissionRequest:
      return kCodexPermissionTimeout - kHookEndMargin;
    case HookEvent::notification:
    case HookEvent::statusLine:
      break;
  }
  return 0;
}

// While a decision waits, the server writes one line feed this often on its connection; a client
// that reads nothing for kReplySilenceBound (three missed keep-alives) takes its server for stopped
// or stuck and ends without a verdict, so the agent's own prompt takes over.
inline constexpr Seconds kKeepAliveInterval = 15;
inline constexpr Seconds kReplySilenceBound = 45;
// A test knob only: TOVAMI_HOOK_SILENCE_SECONDS, a positive number of seconds up to the bound above,
// shortens the client's silence bound so that a test need not wait 45 s.
Seconds hookSilenceBound(const claude_code::EnvironmentLookup& environment);

// Standard input larger than this is not a hook's: the client gives no verdict.
inline constexpr std::size_t kHookInputLimit = 4 * 1024 * 1024;
// String values of the tool input and the suggestions are cut to this many bytes in the request;
// the card shows less, and a file's whole new content must not cross the socket.
inline constexpr std::size_t kEnvelopeStringLimit = 4096;
// Suggestions larger than this are dropped from the request (no "Always" then).
inline constexpr std::size_t kEnvelopeSuggestionsLimit = 16384;

// The request for the hook's standard input: one JSON object, at most a few tens of KB. Nothing
// when the input is not one JSON object.
std::optional<std::string> hookEnvelope(HookEvent event, std::string_view input);

// The status line wrapper's message: the input's keys the feed reads and the wrapper's ancestors.
// Nothing for input that is too large, not UTF-8, nested too deep or not one JSON object.
std::optional<std::string> statusLineEnvelope(std::string_view input, const std::vector<int32_t>& pids);

// One request read by the server.
struct ApprovalEnvelope {
  HookEvent event = HookEvent::notification;
  const nlohmann::json* payload = nullptr;  // points into the parsed object
  const nlohmann::json* pids = nullptr;     // status-line only, when present
};
// A protocol object, or a bare hook payload (a notice piped in by nc: a notification). Nothing
// for a version this server does not speak or an unknown event.
std::optional<ApprovalEnvelope> readEnvelope(const nlohmann::json& object);

// The server's reply for a decision: {"protocol":1,"behavior":...}. A deny carries `denyMessage`;
// "always" allows with the request's suggestions as updatedPermissions.
std::string decisionReply(const ApprovalRequest& request, ApprovalDecision decision, std::string_view denyMessage);

// What the client prints for the reply: the agent's decision output, or nothing (no verdict) for
// an empty or malformed reply. Codex never gets `interrupt` (a failed hook there, not a deny).
std::string hookOutput(HookEvent event, std::string_view reply);

}  // namespace tovami
