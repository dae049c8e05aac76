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

// Upper-cases the first character, leaving the rest unchanged.
std::string capitalizeFirst(std::string_view text);

}  // namespace tovami::user_text
