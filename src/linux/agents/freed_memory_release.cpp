#include "linux/agents/freed_memory_release.h"

#include <malloc.h>

#include <algorithm>
#include <utility>

namespace tovami::linux_backend {

FreedMemoryRelease::FreedMemoryRelease(std::function<void()> release)
    : release_(release ? std::move(release) : [] { ::malloc_trim(0); }) {}

void FreedMemoryRelease::scanned(size_t processes) {
  peak_ = std::max(peak_, processes);
  if (peak_ - processes < kMinimumDrop || processes * 4 > peak_ * 3) return;
  release_();
  peak_ = processes;
}

}  // namespace tovami::linux_backend
