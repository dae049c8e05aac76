#include "integrations/approval_request.h"

#include <utf8proc.h>

#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "integrations/claude_code_peer.h"
#include "platform/random.h"

namespace tovami {
namespace {

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

std::optional<ApprovalRequest> approvalRequestFrom(const nlohmann::json& event, std::string id, Seconds now) {
  namespace keys = claude_code::hook_event_keys;
  if (!event.is_object()) return std::nullopt;
  if (stringMember(event, keys::kEventName) != claude_code::settings_keys::kNotificationEvent)
    return std::nullopt;
  const std::string message = stringMember(event, keys::kMessage).value_or("");
  if (!mentionsPermission(message)) return std::nullopt;
  ApprovalRequest request;
  request.id = std::move(id);
  request.cwd = stringMember(event, keys::kCwd);
  request.projectName = request.cwd ? lastPathComponent(*request.cwd) : "Claude";
  request.toolName = stringMember(event, keys::kTitle).value_or(claude_code::kAgentName);
  request.detail = firstCharacters(message, kApprovalDetailLength);
  request.receivedAt = now;
  return request;
}

void ApprovalState::setPending(std::optional<ApprovalRequest> request) {
  const bool same = request.has_value() == pending_.has_value() && (!request || request->id == pending_->id);
  pending_ = std::move(request);
  if (same) return;
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

bool ApprovalConversation::received(std::string_view bytes) {
  buffer_.append(bytes);
  // Only a buffer that ends in "}" can hold a whole object: the parser runs once per object, not
  // once per byte of a slow writer.
  if (endsWithClosingBrace(buffer_)) {
    auto parsed = nlohmann::json::parse(buffer_, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_object()) {
      buffer_.clear();
      if (handler_) handler_(parsed);
      return true;
    }
  }
  return buffer_.size() > kMaxBufferedBytes;
}

}  // namespace tovami
