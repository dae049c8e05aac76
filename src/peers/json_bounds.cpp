#include "peers/json_bounds.h"

namespace tovami::json_bounds {

bool nestingWithin(std::string_view text, int maxDepth) {
  int depth = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case '"':  // skip the string, escapes included
        for (++i; i < text.size() && text[i] != '"'; ++i)
          if (text[i] == '\\') ++i;
        break;
      case '[':
      case '{':
        if (++depth > maxDepth) return false;
        break;
      case ']':
      case '}':
        if (depth > 0) --depth;  // a stray closer must not buy room for openers
        break;
      default:
        break;
    }
  }
  return true;
}

nlohmann::json parse(std::string_view text, int maxDepth) {
  if (!nestingWithin(text, maxDepth)) return nlohmann::json::value_t::discarded;
  return nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
}

}  // namespace tovami::json_bounds
