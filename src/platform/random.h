// Randomness for the small animations: a 64-bit source behind an interface so tests can fix
// it, and unbiased uniform integers drawn from it.
#pragma once

#include <cstdint>
#include <memory>

namespace tovami {

class RandomSource {
 public:
  virtual ~RandomSource() = default;
  // 64 uniformly random bits.
  virtual uint64_t next64() = 0;
};

// A uniform integer in [low, high] (inclusive), by rejection sampling: no modulo bias.
int64_t uniformInt(RandomSource& source, int64_t low, int64_t high);

// A process-wide source seeded from the system's entropy.
std::shared_ptr<RandomSource> systemRandomSource();

}  // namespace tovami
