// What a nap leaves behind: how long it lasted and how many pokes it swallowed.
#pragma once

#include <cstdint>
#include <string>

namespace tovami {

struct NapReport {
  double duration = 0;            // seconds
  std::int64_t pokesIgnored = 0;  // key presses swallowed during the nap

  // "Napped under a minute", "Napped 5 min", "Napped 1 hr 5 min".
  std::string durationText() const;
  // "nobody poked", "1 poke ignored", "3 pokes ignored".
  std::string pokesText() const;
  bool operator==(const NapReport&) const = default;
};

}  // namespace tovami
