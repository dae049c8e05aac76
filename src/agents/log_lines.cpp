#include "agents/log_lines.h"

#include <algorithm>
#include <utility>

#include "peers/json_bounds.h"

namespace tovami::log_lines {
namespace {

using nlohmann::json;

// Reads up to `length` bytes at `offset`; a failed read gives empty data.
std::string readChunk(std::istream& in, std::uint64_t offset, std::size_t length) {
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

void markLastLine(std::string_view data, std::uint64_t dataStart, Mark& mark) {
  const std::size_t newline = data.rfind('\n');
  if (newline == std::string_view::npos) return;  // no complete line: the mark stays
  const std::size_t end = newline + 1;
  const std::size_t anchor = std::min<std::size_t>(end, kAnchorBytes);
  mark.offset = dataStart + end;
  mark.anchor.assign(data.substr(end - anchor, anchor));
}

}  // namespace

Chunk readSince(std::istream& in, Mark& mark) {
  Chunk chunk;
  if (!in) {
    mark = {};
    return chunk;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff end = in ? static_cast<std::streamoff>(in.tellg()) : -1;
  const std::uint64_t size = end > 0 ? static_cast<std::uint64_t>(end) : 0;

  const std::uint64_t from = mark.offset - std::min<std::uint64_t>(mark.anchor.size(), mark.offset);
  if (mark.offset > 0 && size >= mark.offset && size - mark.offset <= kTailBytes) {
    std::string data = readChunk(in, from, static_cast<std::size_t>(size - from));
    if (std::string_view(data).substr(0, mark.offset - from) == mark.anchor) {
      chunk.afresh = false;
      chunk.textOffset = mark.offset;
      markLastLine(data, from, mark);
      data.erase(0, static_cast<std::size_t>(chunk.textOffset - from));
      chunk.text = std::move(data);
      return chunk;
    }
  }

  // New, replaced, shrunk or grown past the tail: head and tail afresh.
  mark = Mark{};
  chunk.head = readChunk(in, 0, static_cast<std::size_t>(std::min<std::uint64_t>(size, kHeadBytes)));
  const std::size_t tailLength = static_cast<std::size_t>(std::min<std::uint64_t>(size, kTailBytes));
  chunk.textOffset = size - tailLength;
  chunk.text = readChunk(in, chunk.textOffset, tailLength);
  chunk.textStartsMidLine = chunk.textOffset > 0;
  markLastLine(chunk.text, chunk.textOffset, mark);
  return chunk;
}

std::vector<json> objectsIn(std::string_view text, bool dropFirstLine) {
  std::vector<json> objects;
  std::size_t start = 0;
  bool first = true;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    if (std::exchange(first, false) && dropFirstLine) continue;
    try {
      json value = json_bounds::parse(line);
      if (value.is_object()) objects.push_back(std::move(value));
    } catch (const json::exception&) {
      // Not a record: skipped.
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

}  // namespace tovami::log_lines
