// The incremental, bounded read every agent's conversation log shares. Logs are JSON lines that
// only grow; a read takes the lines appended since the last one. A log seen for the first time,
// replaced (the bytes before the last read's end differ), shrunk, or grown by more than the tail
// budget is read afresh: its first kHeadBytes and its last kTailBytes only, however long it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace tovami::log_lines {

inline constexpr std::size_t kHeadBytes = 32768;
inline constexpr std::size_t kTailBytes = 262144;
inline constexpr std::size_t kAnchorBytes = 64;

// Where the last read ended, so that the next one can take only what was appended. The bytes just
// before the offset tell a log that grew from one that was replaced.
struct Mark {
  std::uint64_t offset = 0;  // just past the last complete line read; 0: nothing read yet
  std::string anchor;        // the (at most kAnchorBytes) bytes before `offset`
};

struct Chunk {
  bool afresh = true;              // the log is read from its start: what was known of it is void
  std::string head;                // afresh only: the log's first kHeadBytes
  std::string text;                // the lines to apply: appended since the mark, or the log's tail
  std::uint64_t textOffset = 0;    // where `text` starts in the log
  bool textStartsMidLine = false;  // a tail cut inside a line: its first line is not whole
};

// Reads `in` (any seekable stream) from `mark` on and moves `mark` to the end of the last complete
// line. An unusable stream gives an empty afresh chunk.
Chunk readSince(std::istream& in, Mark& mark);

// The lines of `text` that parse as JSON objects, in order. Damaged lines are skipped.
std::vector<nlohmann::json> objectsIn(std::string_view text, bool dropFirstLine = false);

// Small accessors for records that are not a stable interface: null or absent on any mismatch.
const nlohmann::json* member(const nlohmann::json& object, const char* key);
const std::string* stringMember(const nlohmann::json& object, const char* key);

}  // namespace tovami::log_lines
