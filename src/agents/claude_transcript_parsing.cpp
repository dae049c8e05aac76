#include "agents/claude_transcript_parsing.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <string>
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

// Reads up to `length` bytes at `offset`; a failed read gives empty data.
std::string readChunk(std::istream& in, std::size_t offset, std::size_t length) {
  std::string data;
  if (length == 0) return data;
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
  if (!in) return data;
  data.resize(length);
  in.read(data.data(), static_cast<std::streamsize>(length));
  data.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return data;
}

// Splits at 0x0A, drops empty lines, and keeps each line that parses to a JSON object.
std::vector<json> objectsIn(std::string_view chunk, bool dropFirstLine) {
  std::vector<json> objects;
  std::size_t start = 0;
  bool first = true;
  while (start < chunk.size()) {
    std::size_t end = chunk.find('\n', start);
    if (end == std::string_view::npos) end = chunk.size();
    std::string_view line = chunk.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    if (first) {
      first = false;
      if (dropFirstLine) continue;
    }
    try {
      json value = json::parse(line.begin(), line.end(), nullptr, /*allow_exceptions=*/false);
      if (value.is_object()) objects.push_back(std::move(value));
    } catch (const json::exception&) {
      // Not a transcript record: skipped.
    }
  }
  return objects;
}

const json* member(const json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

const std::string* stringMember(const json& object, const char* key) {
  const json* value = member(object, key);
  return value != nullptr && value->is_string() ? value->get_ptr<const std::string*>() : nullptr;
}

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

void applyRecentLines(const std::vector<json>& tail, ClaudeSessionInfo& info) {
  for (const json& record : tail) {
    const std::string* type = stringMember(record, "type");
    const json* message = member(record, "message");
    if (type == nullptr || message == nullptr || !message->is_object() || isMeta(record)) continue;
    const bool isAssistant = *type == "assistant";
    if (isAssistant) {
      if (const std::string* model = stringMember(*message, "model")) {
        info.modelName = clean(modelDisplayName(*model));
      }
      if (auto activity = toolActivity(*message)) info.activityLine = std::move(activity);
    }
    auto text = textOf(*message);
    if (!text) continue;
    if (*type == "user") {
      info.youLine = clean(*text);
      info.replyLine.reset();
    } else if (isAssistant) {
      info.replyLine = clean(*text);
    }
  }
}

// The length in bytes of the control character at `i` (see clean), or 0.
std::size_t controlLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) {
    return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
  };
  const unsigned char c = byte(0);
  if (c < 0x20 || c == 0x7F) return 1;
  if (c == 0xC2 && byte(1) >= 0x80 && byte(1) <= 0x9F) return 2;                     // C1 controls
  if (c == 0xE2 && byte(1) == 0x80 && byte(2) >= 0xA8 && byte(2) <= 0xAE) return 3;  // U+2028-U+202E
  if (c == 0xE2 && byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9) return 3;  // U+2066-U+2069
  return 0;
}

// Stores in `mark` the end of the last complete line of `data` (the bytes of the file from
// `dataStart` on) and the bytes before it.
void markLastLine(std::string_view data, std::uint64_t dataStart, ReadMark& mark) {
  const std::size_t newline = data.rfind('\n');
  if (newline == std::string_view::npos) return;  // no complete line: the mark stays
  const std::size_t end = newline + 1;
  const std::size_t anchor = std::min<std::size_t>(end, kAnchorBytes);
  mark.offset = dataStart + end;
  mark.anchor.assign(data.substr(end - anchor, anchor));
}

}  // namespace

std::string clean(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t length = controlLength(text, i)) {
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
  return parseSince(in, mark, /*titleKnown=*/false);
}

ClaudeSessionInfo parseSince(std::istream& in, ReadMark& mark, bool titleKnown) {
  ClaudeSessionInfo info;
  if (!in) return info;
  in.seekg(0, std::ios::end);
  std::streamoff end = in ? static_cast<std::streamoff>(in.tellg()) : -1;
  const std::size_t size = end > 0 ? static_cast<std::size_t>(end) : 0;

  const std::uint64_t from = mark.offset - std::min<std::uint64_t>(mark.anchor.size(), mark.offset);
  if (mark.offset > 0 && size >= mark.offset && size - mark.offset <= kTailBytes) {
    const std::string data = readChunk(in, from, size - from);
    if (std::string_view(data).substr(0, mark.offset - from) == mark.anchor) {
      // Only grown: the lines after the mark, each read once.
      const std::string_view appended = std::string_view(data).substr(mark.offset - from);
      if (!mark.titleFromSummary && mark.offset < kHeadBytes) {
        const Title title = titleFrom(objectsIn(appended.substr(0, kHeadBytes - mark.offset), false));
        if (title.fromSummary || !titleKnown) info.title = title.text;
        mark.titleFromSummary = title.fromSummary;
      }
      applyRecentLines(objectsIn(appended, /*dropFirstLine=*/false), info);
      markLastLine(data, from, mark);
      return info;
    }
  }

  // New, replaced, shrunk or grown past the tail: head and tail afresh.
  mark = ReadMark{};
  const std::string head = readChunk(in, 0, std::min(size, kHeadBytes));
  const std::size_t tailLength = std::min(size, kTailBytes);
  const std::string tail = readChunk(in, size - tailLength, tailLength);

  const Title title = titleFrom(objectsIn(head, /*dropFirstLine=*/false));
  info.title = title.text;
  mark.titleFromSummary = title.fromSummary;
  applyRecentLines(objectsIn(tail, /*dropFirstLine=*/tail.size() < size), info);
  markLastLine(tail, size - tail.size(), mark);
  return info;
}

ClaudeSessionInfo parse(const std::filesystem::path& url) {
  std::ifstream in(url, std::ios::binary);
  if (!in.is_open()) return {};
  return parse(in);
}

}  // namespace tovami::claude_transcript
