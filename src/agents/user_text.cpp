#include "agents/user_text.h"

#include <utf8proc.h>

namespace tovami::user_text {

namespace {

constexpr utf8proc_int32_t kReplacementCharacter = 0xFFFD;

struct Decoded {
  utf8proc_int32_t codePoint;
  std::size_t length;
};

// Decodes the code point at `offset`; an invalid byte decodes as U+FFFD of length 1.
Decoded decodeAt(std::string_view text, std::size_t offset) {
  utf8proc_int32_t c = 0;
  utf8proc_ssize_t used = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + offset),
                                           static_cast<utf8proc_ssize_t>(text.size() - offset), &c);
  if (used <= 0) return {kReplacementCharacter, 1};
  return {c, static_cast<std::size_t>(used)};
}

bool isWhitespace(utf8proc_int32_t c) {
  if (c == '\t' || (c >= 0x0A && c <= 0x0D) || c == 0x85) return true;
  switch (utf8proc_category(c)) {
    case UTF8PROC_CATEGORY_ZS:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
      return true;
    default:
      return false;
  }
}

// Calls `atBoundary(offset)` before every character after the first; stops when it returns false.
template <typename F>
void forEachCharacterBoundary(std::string_view text, F&& atBoundary) {
  utf8proc_int32_t state = 0;
  utf8proc_int32_t previous = -1;
  std::size_t offset = 0;
  while (offset < text.size()) {
    Decoded d = decodeAt(text, offset);
    if (previous >= 0 && utf8proc_grapheme_break_stateful(previous, d.codePoint, &state)) {
      if (!atBoundary(offset)) return;
    }
    previous = d.codePoint;
    offset += d.length;
  }
}

}  // namespace

std::size_t characterCount(std::string_view text) {
  if (text.empty()) return 0;
  std::size_t count = 1;
  forEachCharacterBoundary(text, [&](std::size_t) {
    ++count;
    return true;
  });
  return count;
}

std::string_view prefixCharacters(std::string_view text, std::size_t limit) {
  if (limit == 0) return text.substr(0, 0);
  // Fewer bytes than the limit can never hold more characters than the limit.
  if (text.size() <= limit) return text;
  std::size_t seen = 1;
  std::size_t cut = text.size();
  forEachCharacterBoundary(text, [&](std::size_t offset) {
    if (seen == limit) {
      cut = offset;
      return false;
    }
    ++seen;
    return true;
  });
  return text.substr(0, cut);
}

std::string_view trimWhitespace(std::string_view text) {
  std::size_t start = text.size();
  std::size_t end = 0;
  std::size_t offset = 0;
  while (offset < text.size()) {
    Decoded d = decodeAt(text, offset);
    if (!isWhitespace(d.codePoint)) {
      if (start == text.size()) start = offset;
      end = offset + d.length;
    }
    offset += d.length;
  }
  if (start >= end) return text.substr(0, 0);
  return text.substr(start, end - start);
}

std::string capitalizeFirst(std::string_view text) {
  if (text.empty()) return {};
  Decoded first = decodeAt(text, 0);
  utf8proc_int32_t upper = utf8proc_toupper(first.codePoint);
  if (upper == first.codePoint) return std::string(text);
  utf8proc_uint8_t buffer[4];
  utf8proc_ssize_t length = utf8proc_encode_char(upper, buffer);
  std::string result(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
  result.append(text.substr(first.length));
  return result;
}

}  // namespace tovami::user_text
