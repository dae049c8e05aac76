#include "agents/gemini_chat.h"

#include "agents/claude_transcript_parsing.h"
#include "agents/codex_rollout.h"
#include "agents/user_text.h"
#include "peers/gemini_peer.h"
#include "peers/json_bounds.h"

namespace tovami::gemini_chat {
namespace {

using log_lines::member;
using log_lines::stringMember;
using nlohmann::json;
namespace keys = gemini::chat_keys;

std::optional<std::string> visible(std::string_view text) {
  const std::string_view trimmed = user_text::trimWhitespace(text);
  if (trimmed.empty() || trimmed.front() == '<') return std::nullopt;  // injected context markup
  return claude_transcript::clean(trimmed);
}

// "content": a string, or a list of parts of which the first visible {"text"} counts.
std::optional<std::string> contentText(const json& message) {
  const json* content = member(message, keys::kContent);
  if (content == nullptr) return std::nullopt;
  if (content->is_string()) return visible(content->get_ref<const std::string&>());
  if (!content->is_array()) return std::nullopt;
  for (const json& part : *content)
    if (const std::string* text = stringMember(part, keys::kText))
      if (auto shown = visible(*text)) return shown;
  return std::nullopt;
}

void applyMessage(const json& message, ConversationSummary& summary) {
  const std::string* type = stringMember(message, keys::kType);
  if (type == nullptr) return;
  if (*type == keys::kUser) {
    if (auto text = contentText(message)) {
      if (!summary.title) summary.title = text;
      summary.youLine = std::move(text);
      summary.replyLine.reset();
    }
  } else if (*type == keys::kGemini) {
    if (const std::string* model = stringMember(message, keys::kModel); model && !model->empty())
      summary.modelName = claude_transcript::clean(*model);
    if (const json* calls = member(message, keys::kToolCalls); calls && calls->is_array())
      for (const json& call : *calls)
        if (const std::string* name = stringMember(call, keys::kName))
          summary.activityLine = claude_transcript::clean(*name);
    if (auto text = contentText(message)) summary.replyLine = std::move(text);
  }
}

void applyMessages(const json* messages, ConversationSummary& summary) {
  if (messages == nullptr || !messages->is_array()) return;
  for (const json& message : *messages) applyMessage(message, summary);
}

void applyRecord(const json& record, ConversationSummary& summary) {
  if (const json* set = member(record, keys::kSet)) {
    // "$set" of the messages rewrites the whole list: what was shown of the old one goes.
    if (const json* messages = member(*set, keys::kMessages); messages && messages->is_array()) {
      summary.youLine.reset();
      summary.replyLine.reset();
      applyMessages(messages, summary);
    }
    return;
  }
  applyMessages(member(record, keys::kMessages), summary);
  applyMessage(record, summary);
}

}  // namespace

std::optional<Header> header(std::string_view firstLine) {
  const auto records = log_lines::objectsIn(firstLine.substr(0, firstLine.find('\n')));
  if (records.empty()) return std::nullopt;
  const std::string* id = stringMember(records.front(), keys::kSessionId);
  if (id == nullptr || id->empty() || id->size() > 128) return std::nullopt;
  Header found{*id, std::nullopt};
  if (const std::string* time = stringMember(records.front(), keys::kStartTime))
    found.startedAt = codex_rollout::isoSeconds(*time);
  return found;
}

void apply(const log_lines::Chunk& chunk, ConversationSummary& summary) {
  applyRecordChunk(chunk, summary, applyRecord);
}

ConversationSummary parseDocument(std::string_view text) {
  ConversationSummary summary;
  if (text.size() > gemini::kChatDocumentMaxBytes) return summary;
  const json document = json_bounds::parse(text);
  applyMessages(member(document, keys::kMessages), summary);
  return summary;
}

}  // namespace tovami::gemini_chat
