#include "agents/claude_transcript_parsing.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "agents/user_text.h"

namespace tovami::claude_transcript {

namespace {

using nlohmann::json;

struct ModelRow {
  std::string_view key;
  std::string_view displayName;
};

constexpr std::array<ModelRow, 6> kModelTable{{
    {"fable-5", "Fable 5"},
    {"mythos-5", "Mythos 5"},
    {"opus-4-8", "Opus 4.8"},
    {"opus-4-7", "Opus 4.7"},
    {"sonnet-5", "Sonnet 5"},
    {"haiku-4-5", "Haiku 4.5"},
}};

constexpr std::string_view kActivitySeparator = " \u2014 ";

using log_lines::member;
using log_lines::objectsIn;
using log_lines::stringMember;

bool isMeta(const json& record) {
  const json* value = member(record, "isMeta");
  return value != nullptr && value->is_boolean() && value->get<bool>();
}

// A trimmed text that is not empty and is not markup.
std::optional<std::string> visibleText(std::string_view text) {
  std::string_view trimmed = user_text::trimWhitespace(text);
  if (trimmed.empty() || trimmed.front() == '<') return std::nullopt;
  return std::string(trimmed);
}

std::string_view lastPathComponent(std::string_view path) {
  std::size_t end = path.find_last_not_of('/');
  if (end == std::string_view::npos) return path.empty() ? path : path.substr(0, 1);
  std::string_view trimmed = path.substr(0, end + 1);
  std::size_t slash = trimmed.rfind('/');
  return slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1);
}

struct Title {
  std::optional<std::string> text;
  bool fromSummary = false;
};

Title titleFrom(const std::vector<json>& head) {
  std::optional<std::string> firstPrompt;
  for (const json& record : head) {
    const std::string* type = stringMember(record, "type");
    if (type == nullptr) continue;
    if (*type == "summary") {
      if (const std::string* summary = stringMember(record, "summary")) return {clean(*summary), true};
    } else if (*type == "user" && !firstPrompt && !isMeta(record)) {
      const json* message = member(record, "message");
      if (message == nullptr || !message->is_object()) continue;
      if (auto text = textOf(*message)) firstPrompt = clean(*text);
    }
  }
  return {firstPrompt, false};
}

// The prompt record `uuid` follows from, walking up what was read; nothing when the chain leaves it.
std::optional<std::string> promptAbove(const ReplyLinks& links, std::string uuid) {
  for (std::size_t hops = 0; hops < ReplyLinks::kMaxRecords; ++hops) {
    const auto link = links.records.find(uuid);
    if (link == links.records.end()) return std::nullopt;
    if (link->second.prompt) return link->second.prompt;
    if (link->second.parent.empty()) return std::nullopt;
    uuid = link->second.parent;
  }
  return std::nullopt;  // a loop
}

// Records the links of `record`; its uuid, when it has one.
std::optional<std::string> link(const json& record, bool isPrompt, ReplyLinks& links) {
  const std::string* uuid = stringMember(record, "uuid");
  if (uuid == nullptr || uuid->empty() || uuid->size() > 128) return std::nullopt;
  if (links.records.size() >= ReplyLinks::kMaxRecords) links.records.clear();
  const std::string* parent = stringMember(record, "parentUuid");
  ReplyLinks::Link entry{parent ? *parent : std::string(), std::nullopt};
  if (isPrompt) {
    entry.prompt = *uuid;
  } else if (auto above = links.records.find(entry.parent); above != links.records.end()) {
    entry.prompt = above->second.prompt;
  }
  links.records.insert_or_assign(*uuid, std::move(entry));
  return *uuid;
}

void applyRecentLines(const std::vector<json>& tail, ReplyLinks& links, ClaudeSessionInfo& info) {
  for (const json& record : tail) {
    const std::string* type = stringMember(record, "type");
    const json* message = member(record, "message");
    const bool usable = type != nullptr && message != nullptr && message->is_object() && !isMeta(record);
    auto text = usable ? textOf(*message) : std::nullopt;
    // Every record links, those shown or not: a chain passes through tool results and the like.
    const auto uuid = link(record, text && *type == "user", links);
    if (!usable) continue;
    const bool isAssistant = *type == "assistant";
    if (isAssistant) {
      if (const std::string* model = stringMember(*message, "model")) {
        info.modelName = clean(modelDisplayName(*model));
      }
      if (auto activity = toolActivity(*message)) info.activityLine = std::move(activity);
    }
    if (!text) continue;
    if (*type == "user") {
      info.youLine = clean(*text);
      info.replyLine.reset();
      links.prompt = uuid;
      // Its reply may have come first.
      std::erase_if(links.early, [&](const auto& early) {
        const auto owner = promptAbove(links, early.first);
        if (owner && owner == uuid) info.replyLine = early.second;
        return owner.has_value();
      });
    } else if (isAssistant) {
      const auto owner = uuid ? promptAbove(links, *uuid) : std::nullopt;
      if (owner && owner != links.prompt) continue;  // an earlier prompt's reply
      info.replyLine = clean(*text);
      if (uuid && !owner) {
        if (links.early.size() >= ReplyLinks::kMaxEarly) links.early.erase(links.early.begin());
        links.early.emplace_back(*uuid, *info.replyLine);
      }
    }
  }
}

// A session's names, wherever they appear: the user's title replaces the generated one in display,
// and either may change during the session.
void applyNames(const std::vector<json>& records, ConversationSummary& summary) {
  for (const json& record : records) {
    const std::string* type = stringMember(record, "type");
    if (type == nullptr || (*type != "custom-title" && *type != "ai-title")) continue;
    const bool custom = *type == "custom-title";
    const std::string* text = nullptr;
    for (const char* key : {custom ? "customTitle" : "aiTitle", "title"})
      if ((text = stringMember(record, key))) break;
    if (text == nullptr || user_text::trimWhitespace(*text).empty()) continue;
    (custom ? summary.customTitle : summary.generatedTitle) = clean(user_text::trimWhitespace(*text));
  }
}

}  // namespace

std::string clean(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t length = user_text::controlLength(text, i)) {
      result += ' ';
      i += length;
    } else {
      result += text[i++];
    }
  }
  result.resize(user_text::prefixCharacters(result, kLineCharacters).size());
  return result;
}

std::optional<std::string> textOf(const json& message) {
  const json* content = member(message, "content");
  if (content == nullptr) return std::nullopt;
  if (content->is_string()) return visibleText(content->get_ref<const std::string&>());
  if (!content->is_array()) return std::nullopt;
  for (const json& item : *content) {
    const std::string* type = stringMember(item, "type");
    if (type == nullptr || *type != "text") continue;
    const std::string* text = stringMember(item, "text");
    if (text == nullptr) continue;
    if (auto visible = visibleText(*text)) return visible;
  }
  return std::nullopt;
}

std::optional<std::string> toolActivity(const json& message) {
  const json* content = member(message, "content");
  if (content == nullptr || !content->is_array()) return std::nullopt;
  std::optional<std::string> activity;
  for (const json& item : *content) {
    const std::string* type = stringMember(item, "type");
    if (type == nullptr || *type != "tool_use") continue;
    const std::string* name = stringMember(item, "name");
    if (name == nullptr) continue;
    std::string text = *name;
    const json* input = member(item, "input");
    if (input != nullptr && input->is_object()) {
      if (const std::string* filePath = stringMember(*input, "file_path")) {
        text.append(kActivitySeparator).append(lastPathComponent(*filePath));
      } else if (const std::string* command = stringMember(*input, "command")) {
        text.append(kActivitySeparator).append(*command);
      }
    }
    // Every activity is one line of at most 140 characters, whatever its target.
    activity = clean(text);
  }
  return activity;
}

std::string modelDisplayName(std::string_view id) {
  for (const ModelRow& row : kModelTable) {
    if (id.find(row.key) != std::string_view::npos) return std::string(row.displayName);
  }
  std::string stripped;
  stripped.reserve(id.size());
  constexpr std::string_view kPrefix = "claude-";
  std::size_t start = 0;
  while (start < id.size()) {
    std::size_t found = id.find(kPrefix, start);
    if (found == std::string_view::npos) {
      stripped.append(id.substr(start));
      break;
    }
    stripped.append(id.substr(start, found - start));
    start = found + kPrefix.size();
  }
  return user_text::capitalizeFirst(stripped);
}

ClaudeSessionInfo parse(std::istream& in) {
  ReadMark mark;
  ConversationSummary summary;
  readInto(in, mark, summary);
  return summary;
}

void apply(const log_lines::Chunk& chunk, ReadMark& mark, ConversationSummary& summary) {
  if (chunk.afresh) {
    const ConversationSummary before = std::exchange(summary, {});
    mark.links = {};
    const auto head = objectsIn(chunk.head);
    const Title title = titleFrom(head);
    summary.title = title.text;
    mark.titleFromSummary = title.fromSummary;
    if (chunk.textOffset > 0) applyNames(head, summary);  // else the text holds the head
    const auto recent = objectsIn(chunk.text, chunk.textStartsMidLine);
    applyNames(recent, summary);
    applyRecentLines(recent, mark.links, summary);
    keepEarlierValues(summary, before);
    return;
  }
  // Only grown: the lines after the mark, each read once.
  const std::string_view appended = chunk.text;
  if (!mark.titleFromSummary && chunk.textOffset < kHeadBytes) {
    const Title title = titleFrom(objectsIn(appended.substr(0, kHeadBytes - chunk.textOffset)));
    if (title.text && (title.fromSummary || !summary.title)) summary.title = title.text;
    mark.titleFromSummary = title.fromSummary;
  }
  const auto recent = objectsIn(appended);
  applyNames(recent, summary);
  applyRecentLines(recent, mark.links, summary);
}

void readInto(std::istream& in, ReadMark& mark, ConversationSummary& summary) {
  const log_lines::Chunk chunk = log_lines::readSince(in, mark);
  apply(chunk, mark, summary);
}

ClaudeSessionInfo parse(const std::filesystem::path& url) {
  std::ifstream in(url, std::ios::binary);
  if (!in.is_open()) return {};
  return parse(in);
}

}  // namespace tovami::claude_transcript
