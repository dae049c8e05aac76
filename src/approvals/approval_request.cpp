#include "approvals/approval_request.h"

#include <utf8proc.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "agents/user_text.h"
#include "peers/claude_code_peer.h"
#include "peers/json_bounds.h"
#include "platform/random.h"

namespace tovami {
namespace {

constexpr const char* kPermissionRequestEvent = "PermissionRequest";

std::optional<std::string> stringMember(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

bool mentionsPermission(std::string_view message) {
  static constexpr std::string_view kWord = "permission";
  if (message.size() < kWord.size()) return false;
  for (std::size_t start = 0; start + kWord.size() <= message.size(); ++start) {
    std::size_t i = 0;
    while (i < kWord.size() && std::tolower(static_cast<unsigned char>(message[start + i])) ==
                                   static_cast<unsigned char>(kWord[i]))
      ++i;
    if (i == kWord.size()) return true;
  }
  return false;
}

// The last path component, trailing slashes ignored; "/" for the root itself.
std::string lastPathComponent(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path == "/") return "/";
  auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}


bool endsWithClosingBrace(const std::string& bytes) {
  for (auto it = bytes.rbegin(); it != bytes.rend(); ++it) {
    if (*it == ' ' || *it == '\n' || *it == '\r' || *it == '\t') continue;
    return *it == '}';
  }
  return false;
}

}  // namespace

std::string firstCharacters(std::string_view text, std::size_t count) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  utf8proc_ssize_t remaining = static_cast<utf8proc_ssize_t>(text.size());
  utf8proc_int32_t previous = -1;
  utf8proc_int32_t state = 0;
  std::size_t characters = 0;
  std::size_t offset = 0;
  while (remaining > 0) {
    utf8proc_int32_t c = 0;
    utf8proc_ssize_t used = utf8proc_iterate(bytes + offset, remaining, &c);
    if (used <= 0) {
      c = 0xFFFD;  // a stray byte counts as one character of its own
      used = 1;
      previous = -1;
    }
    if (previous < 0 || utf8proc_grapheme_break_stateful(previous, c, &state)) {
      if (characters == count) break;
      ++characters;
    }
    previous = c;
    offset += static_cast<std::size_t>(used);
    remaining -= used;
  }
  return std::string(text.substr(0, offset));
}

std::string randomUUID(RandomSource& random) {
  uint64_t high = random.next64(), low = random.next64();
  high = (high & 0xFFFFFFFFFFFF0FFFull) | 0x0000000000004000ull;  // version 4
  low = (low & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull;    // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                static_cast<unsigned>(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
  return text;
}

std::string ApprovalRequest::agentName() const {
  return agent == ApprovalAgent::codex ? "Codex" : claude_code::kAgentName;
}

std::string approvalDisplayText(std::string_view text, std::size_t limit) {
  std::string result;
  result.reserve(std::min(text.size(), limit * 4 + 4));
  for (std::size_t i = 0; i < text.size() && result.size() < limit * 8 + 8;) {
    if (const std::size_t length = user_text::controlLength(text, i)) {
      if (result.empty() || result.back() != ' ') result += ' ';
      i += length;
    } else {
      result += text[i++];
    }
  }
  const bool budgetSpent = result.size() >= limit * 8 + 8;
  if (budgetSpent) {  // copying stopped at a byte count: drop the last, perhaps partial, code point
    while (!result.empty() && (static_cast<unsigned char>(result.back()) & 0xC0) == 0x80) result.pop_back();
    if (!result.empty() && static_cast<unsigned char>(result.back()) >= 0xC0) result.pop_back();
  }
  const std::string_view trimmed = user_text::trimWhitespace(result);
  if (limit == 0) return {};
  const std::string_view head = user_text::prefixCharacters(trimmed, limit);
  if (head.size() == trimmed.size() && !budgetSpent) return std::string(trimmed);
  return std::string(user_text::prefixCharacters(trimmed, limit - 1)) + "\u2026";
}

std::string mainArgumentOf(std::string_view toolName, const nlohmann::json& toolInput) {
  if (toolName.rfind("mcp__", 0) == 0) return std::string(toolName);
  if (!toolInput.is_object()) return {};
  for (const char* key : {"command", "file_path", "notebook_path", "url", "path", "pattern", "query"})
    if (auto value = stringMember(toolInput, key)) return *value;
  return {};
}

std::optional<ApprovalRequest> approvalRequestFrom(const nlohmann::json& event, std::string id, Seconds now,
                                                   ApprovalAgent agent) {
  namespace keys = claude_code::hook_event_keys;
  if (!event.is_object()) return std::nullopt;
  const auto eventName = stringMember(event, keys::kEventName);
  ApprovalRequest request;
  request.agent = agent;
  if (eventName == kPermissionRequestEvent) {
    const auto tool = stringMember(event, "tool_name");
    if (!tool || tool->empty()) return std::nullopt;
    request.road = ApprovalRoad::decision;
    request.toolName = approvalDisplayText(*tool, kApprovalNameLength);
    const auto input = event.find("tool_input");
    request.detail = approvalDisplayText(
        mainArgumentOf(*tool, input == event.end() ? nlohmann::json() : *input), kApprovalDetailLength);
    const auto suggestions = event.find("permission_suggestions");
    if (suggestions != event.end()) {
      request.always = describeSuggestions(*suggestions);
      request.permissionSuggestions = request.always.json;
      request.canAlwaysAllow = !request.always.empty();
    }
  } else if (eventName == claude_code::settings_keys::kNotificationEvent) {
    const std::string message = stringMember(event, keys::kMessage).value_or("");
    if (!mentionsPermission(message)) return std::nullopt;
    request.road = ApprovalRoad::keystroke;
    request.toolName = approvalDisplayText(stringMember(event, keys::kTitle).value_or(request.agentName()),
                                           kApprovalNameLength);
    request.detail = approvalDisplayText(message, kApprovalDetailLength);
  } else {
    return std::nullopt;
  }
  request.id = std::move(id);
  request.cwd = stringMember(event, keys::kCwd);
  request.projectName =
      approvalDisplayText(request.cwd ? lastPathComponent(*request.cwd) : "Claude", kApprovalNameLength);
  if (auto session = stringMember(event, "session_id"); session && !session->empty())
    request.sessionId = session->substr(0, 128);
  request.receivedAt = now;
  return request;
}

const ApprovalRequest* ApprovalState::find(const std::string& id) const {
  for (const auto& request : requests_)
    if (request.id == id) return &request;
  return nullptr;
}

void ApprovalState::add(ApprovalRequest request) {
  requests_.push_back(std::move(request));
  changed();
}

bool ApprovalState::update(ApprovalRequest request) {
  for (auto& held : requests_)
    if (held.id == request.id) {
      held = std::move(request);
      changed();
      return true;
    }
  return false;
}

bool ApprovalState::remove(const std::string& id) {
  for (auto it = requests_.begin(); it != requests_.end(); ++it)
    if (it->id == id) {
      requests_.erase(it);
      changed();
      return true;
    }
  return false;
}

void ApprovalState::clear() {
  if (requests_.empty()) return;
  requests_.clear();
  changed();
}

void ApprovalState::setNotice(std::optional<ApprovalNotice> notice) {
  if (notice == notice_) return;
  notice_ = std::move(notice);
  changed();
}

void ApprovalState::setPending(std::optional<ApprovalRequest> request) {
  requests_.clear();
  if (request) requests_.push_back(std::move(*request));
  changed();
}

void ApprovalState::changed() {
  front_ = requests_.empty() ? std::nullopt : std::optional<ApprovalRequest>(requests_.front());
  auto observers = observers_;  // an observer may remove itself
  for (auto& [token, observer] : observers) observer();
}

int ApprovalState::addObserver(std::function<void()> observer) {
  observers_[nextToken_] = std::move(observer);
  return nextToken_++;
}

void ApprovalState::removeObserver(int token) {
  observers_.erase(token);
}

ApprovalConversation::ApprovalConversation(ObjectHandler handler)
    : handler_([handler = std::move(handler)](const nlohmann::json& object,
                                              std::shared_ptr<ConversationReply>) -> std::optional<Waiting> {
        if (handler) handler(object);
        return std::nullopt;
      }) {}

StreamConversation::Next ApprovalConversation::received(std::string_view bytes) {
  buffer_.append(bytes);
  // Only a buffer that ends in "}" can hold a whole object: the parser runs once per object, not
  // once per byte of a slow writer.
  if (endsWithClosingBrace(buffer_)) {
    auto parsed = json_bounds::parse(buffer_);
    if (parsed.is_object()) {
      buffer_.clear();
      buffer_.shrink_to_fit();
      auto waiting = handler_ ? handler_(parsed, reply_) : std::nullopt;
      if (!waiting) return Next::close;
      onPeerGone_ = std::move(waiting->onPeerGone);
      return Next::awaitReply;
    }
    if (!json_bounds::nestingWithin(buffer_)) return Next::close;  // no later byte makes it shallower
  }
  return buffer_.size() > kMaxBufferedBytes ? Next::close : Next::more;
}

void ApprovalConversation::ended() {
  if (auto gone = std::exchange(onPeerGone_, nullptr)) gone();
}

}  // namespace tovami
