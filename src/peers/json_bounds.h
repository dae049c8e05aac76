// JSON text from other programs (hooks, agents' files, the socket's peers, web replies) parsed with
// its nesting bounded. nlohmann's parser and destructor keep their stacks on the heap, but copying,
// comparing and dumping a value recurse once per level: a value 30,000 levels deep costs a thread's
// stack. A cheap scan before the parse refuses such text; every parse of outside text goes through here.
#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

namespace tovami::json_bounds {

// Deeper than any file or message Tovami reads from another program.
inline constexpr int kMaxDepth = 64;

// True when arrays and objects outside strings nest at most `maxDepth` levels. Linear, allocates nothing;
// says nothing else about the text's validity.
bool nestingWithin(std::string_view text, int maxDepth = kMaxDepth);

// nlohmann::json::parse without exceptions: a discarded value for text that is not JSON or nests
// deeper than `maxDepth`.
nlohmann::json parse(std::string_view text, int maxDepth = kMaxDepth);

}  // namespace tovami::json_bounds
