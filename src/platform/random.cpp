#include "platform/random.h"

#include <mutex>
#include <random>

namespace tovami {
namespace {

class SeededSource final : public RandomSource {
 public:
  SeededSource() {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    engine_.seed(seed);
  }
  uint64_t next64() override {
    std::lock_guard lock(mutex_);
    return engine_();
  }

 private:
  std::mutex mutex_;
  std::mt19937_64 engine_;
};

}  // namespace

int64_t uniformInt(RandomSource& source, int64_t low, int64_t high) {
  if (high <= low) return low;
  const uint64_t range = static_cast<uint64_t>(high) - static_cast<uint64_t>(low);
  if (range == UINT64_MAX) return static_cast<int64_t>(source.next64());
  const uint64_t span = range + 1;
  // The largest multiple of span that fits in 2^64; draws at or above it are thrown away.
  const uint64_t limit = UINT64_MAX - (UINT64_MAX % span + 1) % span;
  uint64_t draw;
  do {
    draw = source.next64();
  } while (draw > limit);
  return low + static_cast<int64_t>(draw % span);
}

std::shared_ptr<RandomSource> systemRandomSource() {
  static auto source = std::make_shared<SeededSource>();
  return source;
}

}  // namespace tovami
