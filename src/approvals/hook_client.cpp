#include "approvals/hook_client.h"

#include <algorithm>
#include <charconv>

#include <nlohmann/json.hpp>

#include "peers/json_bounds.h"
#include "peers/status_line_feed.h"

namespace tovami {
namespace {

using nlohmann::json;
namespace protocol = approval_protocol;

constexpr std::string_view kEventNames[] = {"notification", "permission-request", "codex-permission-request",
                                           "status-line"};

// The payload's strings cut to `limit` bytes (at a UTF-8 boundary), recursively.
void cutStrings(json& value, std::size_t limit, int depth = 0) {
  if (depth > 8) {
    value = nullptr;
    return;
  }
  if (value.is_string()) {
    auto& text = value.get_ref<std::string&>();
    if (text.size() <= limit) return;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
  } else if (value.is_structured()) {
    for (auto& item : value) cutStrings(item, limit, depth + 1);
  }
}

// The keys the server reads; everything else (a file's content, the transcript) stays out.
constexpr std::string_view kPayloadKeys[] = {"session_id", "cwd",   "hook_event_name", "tool_name", "message",
                                             "notification_type", "title", "permission_mode"};
constexpr std::string_view kToolInputKeys[] = {"command", "description", "file_path", "notebook_path",
                                               "url",     "path",        "pattern",   "query"};
constexpr std::string_view kToolInputKey = "tool_input";
constexpr std::string_view kSuggestionsKey = "permission_suggestions";

bool among(std::string_view key, const auto& keys) {
  return std::find(std::begin(keys), std::end(keys), key) != std::end(keys);
}

// The hook's input as JSON, every byte checked by the parser, but with only the keys
// compactPayload() reads built into the object: a transcript path, a file's new content or an
// edit's old and new text are never copied into it. Text nested deeper than json_bounds allows is
// refused as json_bounds::parse() refuses it; the parser's callback counts the levels, so the
// input is read once, not scanned first.
json parseHookInput(std::string_view input) {
  bool inToolInput = false;  // the last key of the outer object was tool_input
  bool tooDeep = false;
  const json::parser_callback_t keep = [&](int depth, json::parse_event_t event, json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
      case json::parse_event_t::array_start:
        // `depth` counts the enclosing levels: a deep value is dropped unbuilt and the whole refused.
        if (depth >= json_bounds::kMaxDepth) tooDeep = true;
        return !tooDeep;
      case json::parse_event_t::key:
        break;
      default:
        return true;
    }
    const auto& key = parsed.get_ref<const std::string&>();
    if (depth == 1) {
      inToolInput = key == kToolInputKey;
      return inToolInput || key == kSuggestionsKey || among(key, kPayloadKeys);
    }
    return depth != 2 || !inToolInput || among(key, kToolInputKeys);
  };
  auto parsed = json::parse(input, keep, /*allow_exceptions=*/false);
  return tooDeep ? json(json::value_t::discarded) : parsed;
}

// Moves the keys the server reads out of `input`.
json compactPayload(json& input) {
  json payload = json::object();
  for (const auto key : kPayloadKeys) {
    auto it = input.find(key);
    if (it == input.end() || !it->is_string()) continue;
    auto& text = it->get_ref<std::string&>();
    if (text.size() > kEnvelopeStringLimit) text.resize(kEnvelopeStringLimit);
    payload[std::string(key)] = std::move(*it);
  }
  if (auto it = input.find(kToolInputKey); it != input.end() && it->is_object()) {
    json toolInput = json::object();
    for (const auto key : kToolInputKeys)
      if (auto value = it->find(key); value != it->end() && value->is_string())
        toolInput[std::string(key)] = std::move(*value);
    cutStrings(toolInput, kEnvelopeStringLimit);
    payload[std::string(kToolInputKey)] = std::move(toolInput);
  }
  // The suggestions come back whole as updatedPermissions: kept exactly, or not at all.
  if (auto it = input.find(kSuggestionsKey); it != input.end() && it->is_array()) {
    if (it->dump().size() <= kEnvelopeSuggestionsLimit) payload[std::string(kSuggestionsKey)] = std::move(*it);
  }
  return payload;
}

}  // namespace

std::string approvalSocketPath(const claude_code::EnvironmentLookup& environment) {
  std::string data;
  if (auto xdg = environment("XDG_DATA_HOME"); xdg && !xdg->empty() && xdg->front() == '/') {
    data = *xdg;
  } else if (auto home = environment("HOME"); home && !home->empty()) {
    data = *home + "/.local/share";
  } else {
    return {};
  }
  while (data.size() > 1 && data.back() == '/') data.pop_back();
  return data + "/Tovami/agent.sock";
}

std::string runtimeFolder(const claude_code::EnvironmentLookup& environment) {
  if (auto runtime = environment("XDG_RUNTIME_DIR"); runtime && !runtime->empty() && runtime->front() == '/') {
    std::string folder = *runtime;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder + "/tovami";
  }
  const std::string socket = approvalSocketPath(environment);
  return socket.empty() ? socket : socket.substr(0, socket.rfind('/'));
}

std::string hookSocketPath(const std::optional<std::string>& given,
                           const claude_code::EnvironmentLookup& environment, std::string& refusal) {
  if (!given) return approvalSocketPath(environment);
  if (!given->empty() && given->front() == '/') return *given;
  std::string shown = given->substr(0, 200);  // as given, but never a terminal's control sequence
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  refusal = "the approval socket path \"" + shown + "\" is not absolute";
  return {};
}

Seconds hookSilenceBound(const claude_code::EnvironmentLookup& environment) {
  const auto given = environment("TOVAMI_HOOK_SILENCE_SECONDS");
  if (!given || given->empty() || given->size() > 16) return kReplySilenceBound;
  double seconds = 0;
  const auto [end, error] = std::from_chars(given->data(), given->data() + given->size(), seconds);
  if (error != std::errc() || end != given->data() + given->size() || !(seconds > 0)) return kReplySilenceBound;
  return std::min<Seconds>(seconds, kReplySilenceBound);
}

std::optional<HookEvent> hookEventNamed(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kEventNames); ++i)
    if (kEventNames[i] == name) return static_cast<HookEvent>(i);
  return std::nullopt;
}

std::string_view hookEventName(HookEvent event) {
  return kEventNames[static_cast<std::size_t>(event)];
}

bool waitsForDecision(HookEvent event) {
  return event == HookEvent::permissionRequest || event == HookEvent::codexPermissionRequest;
}

ApprovalAgent agentOf(HookEvent event) {
  return event == HookEvent::codexPermissionRequest ? ApprovalAgent::codex : ApprovalAgent::claudeCode;
}

std::optional<std::string> hookEnvelope(HookEvent event, std::string_view input) {
  if (input.size() > kHookInputLimit) return std::nullopt;
  auto parsed = parseHookInput(input);
  if (!parsed.is_object()) return std::nullopt;
  json envelope = {{protocol::kProtocolKey, protocol::kVersion},
                   {protocol::kEventKey, std::string(hookEventName(event))},
                   {protocol::kPayloadKey, compactPayload(parsed)}};
  return envelope.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<std::string> statusLineEnvelope(std::string_view input, const std::vector<int32_t>& pids) {
  if (input.size() > kStatusLineInputLimit) return std::nullopt;
  auto parsed = json_bounds::parse(input);
  if (!parsed.is_object()) return std::nullopt;
  json envelope = {{protocol::kProtocolKey, protocol::kVersion},
                   {protocol::kEventKey, std::string(hookEventName(HookEvent::statusLine))},
                   {protocol::kPayloadKey, compactStatusLineInput(parsed)},
                   {protocol::kPidsKey, pids}};
  return envelope.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<ApprovalEnvelope> readEnvelope(const json& object) {
  if (!object.is_object()) return std::nullopt;
  auto version = object.find(protocol::kProtocolKey);
  if (version == object.end()) return ApprovalEnvelope{HookEvent::notification, &object};  // a bare notice
  if (!version->is_number_integer() || version->get<int64_t>() != protocol::kVersion) return std::nullopt;
  auto event = object.find(protocol::kEventKey);
  auto payload = object.find(protocol::kPayloadKey);
  if (event == object.end() || !event->is_string() || payload == object.end() || !payload->is_object())
    return std::nullopt;
  auto kind = hookEventNamed(event->get<std::string>());
  if (!kind) return std::nullopt;
  auto pids = object.find(protocol::kPidsKey);
  return ApprovalEnvelope{*kind, &*payload, pids == object.end() ? nullptr : &*pids};
}

std::string decisionReply(const ApprovalRequest& request, ApprovalDecision decision, std::string_view denyMessage) {
  json reply = {{protocol::kProtocolKey, protocol::kVersion}};
  if (decision == ApprovalDecision::deny) {
    reply[protocol::kBehaviorKey] = "deny";
    reply[protocol::kMessageKey] = std::string(denyMessage);
    // As Escape in the terminal: the turn stops and the user says what to do instead.
    reply[protocol::kInterruptKey] = true;
    return reply.dump();
  }
  reply[protocol::kBehaviorKey] = "allow";
  if (decision == ApprovalDecision::always && !request.permissionSuggestions.empty()) {
    auto suggestions = json_bounds::parse(request.permissionSuggestions);
    if (suggestions.is_array()) reply[protocol::kUpdatedPermissionsKey] = std::move(suggestions);
  }
  return reply.dump();
}

std::string hookOutput(HookEvent event, std::string_view reply) {
  if (!waitsForDecision(event) || reply.empty()) return {};
  auto parsed = json_bounds::parse(reply);
  if (!parsed.is_object()) return {};
  auto behavior = parsed.find(protocol::kBehaviorKey);
  if (behavior == parsed.end() || !behavior->is_string()) return {};
  const std::string word = behavior->get<std::string>();
  if (word != "allow" && word != "deny") return {};
  json decision = {{protocol::kBehaviorKey, word}};
  if (auto message = parsed.find(protocol::kMessageKey); message != parsed.end() && message->is_string())
    decision[protocol::kMessageKey] = *message;
  // Codex takes `interrupt` as a failed hook, not a deny: it goes to Claude Code only. Both take
  // the suggestions that were shown back with an allow (Codex only sends them where it reads them).
  if (auto interrupt = parsed.find(protocol::kInterruptKey); event == HookEvent::permissionRequest &&
                                                             word == "deny" && interrupt != parsed.end() &&
                                                             interrupt->is_boolean())
    decision[protocol::kInterruptKey] = *interrupt;
  if (auto updated = parsed.find(protocol::kUpdatedPermissionsKey);
      event != HookEvent::notification && word == "allow" && updated != parsed.end() && updated->is_array())
    decision[protocol::kUpdatedPermissionsKey] = *updated;
  json output = {{"hookSpecificOutput", {{"hookEventName", "PermissionRequest"}, {"decision", std::move(decision)}}}};
  return output.dump() + "\n";
}

}  // namespace tovami
