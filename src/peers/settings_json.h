// Reading and writing the JSON settings files of other programs, which Tovami edits in part:
// bounded (size and depth, so a hostile file costs neither the stack nor the memory), and exact
// for every value Tovami does not touch. Each number keeps the spelling it had in the file (a
// 30-digit integer or "1.50" stays as written), held in the document as a binary value, a type
// that JSON text never produces. Key order is kept.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "peers/json_bounds.h"

namespace tovami::settings_json {

using Json = nlohmann::ordered_json;

// No settings file comes near these; beyond them a file is refused untouched.
inline constexpr std::size_t kMaxBytes = 2u << 20;
inline constexpr int kMaxDepth = json_bounds::kMaxDepth;
// Pretty-printing a deep file multiplies its size: the written text has its own bound.
inline constexpr std::size_t kMaxWrittenBytes = 8u << 20;

// The document, or nothing with `error` saying why in words ("it is nested deeper than 64 levels").
std::optional<Json> parse(std::string_view text, std::string& error);

// The document as text: two-space indents and a final newline, numbers as they were read. Nothing
// (with `error`) when the text would exceed kMaxWrittenBytes or the nesting kMaxDepth.
std::optional<std::string> dump(const Json& document, std::string& error);

// Whether two documents hold the same value: numbers by value whatever their spelling or type (a
// read-back `300` lexeme equals the integer 300, `1.50` equals `1.5`, `1E+2` equals `100`, `-0`
// equals `0`), object keys regardless of their order, arrays element by element. Strings,
// booleans and null compare as they are. The only way two equal values compare unequal: numbers
// whose exponents need more than 15 digits spelled differently (so a change is never missed).
bool sameValue(const Json& a, const Json& b);

}  // namespace tovami::settings_json
