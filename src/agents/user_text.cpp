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

std::size_t controlLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) {
    return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
  };
  const unsigned char c = byte(0);
  if (c < 0x20 || c == 0x7F) return 1;
  if (c == 0xC2 && byte(1) >= 0x80 && byte(1) <= 0x9F) return 2;                     // C1 controls
  if (c == 0xD8 && byte(1) == 0x9C) return 2;                                        // U+061C
  if (c == 0xE2 && byte(1) == 0x80 && byte(2) >= 0x8E && byte(2) <= 0x8F) return 3;  // LRM, RLM
  if (c == 0xE2 && byte(1) == 0x80 && byte(2) >= 0xA8 && byte(2) <= 0xAE) return 3;  // U+2028-U+202E
  if (c == 0xE2 && byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9) return 3;  // U+2066-U+2069
  return 0;
}

}  // namespace tovami::user_text
