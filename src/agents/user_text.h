// Text measured the way people read it: in user-perceived characters (extended grapheme
// clusters), so an emoji with skin tone, a flag or a letter with combining marks counts as one.
// Bytes that are not valid UTF-8 count as one character each and are kept as they are.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tovami::user_text {

std::size_t characterCount(std::string_view text);

// The first `limit` characters of `text` (all of it when it is not longer).
std::string_view prefixCharacters(std::string_view text, std::size_t limit);

// Removes white space and line breaks (Unicode spaces, tab, CR, LF, VT, FF, NEL, U+2028,
// U+2029) at both ends.
std::string_view trimWhitespace(std::string_view text);

// The length in bytes of the control, line-separator or bidirectional-formatting character that
// starts at byte `i` of UTF-8 `text` (C0 and C1 controls, DEL, U+061C, LRM, RLM, U+2028-U+202E,
// U+2066-U+2069), or 0 for any other character. Text from agents is cleaned of these before it is
// shown, so it can neither break a line nor reorder what surrounds it.
std::size_t controlLength(std::string_view text, std::size_t i);

// Upper-cases the first character, leaving the rest unchanged.
std::string capitalizeFirst(std::string_view text);

}  // namespace tovami::user_text
