#include <gtest/gtest.h>

#include <vector>

#include "linux/agents/freed_memory_release.h"

namespace tovami::linux_backend {
namespace {

// The table sizes of successive scans, and the indexes of the scans after which the freed memory goes back.
TEST(FreedMemoryReleaseTest, ReleasesOnceTheTableShrankWellBelowItsPeak) {
  const struct { const char* name; std::vector<size_t> tables, releasedAfter; } cases[] = {
      {"a steady table", {600, 600, 610, 590, 600}, {}},
      {"a build's processes come and go", {600, 3000, 3000, 600, 600}, {3}},
      {"a quarter less, but fewer than the minimum", {800, 600, 560}, {}},
      {"the minimum, but not a quarter", {3000, 2700}, {}},
      {"a slow decline counts from the peak", {3000, 2800, 2500, 2200}, {3}},
      {"the peak starts again after a release", {3000, 600, 500, 1200, 800}, {1, 4}},
  };
  for (const auto& c : cases) {
    std::vector<size_t> released;
    size_t scan = 0;
    FreedMemoryRelease release([&] { released.push_back(scan); });
    for (; scan < c.tables.size(); ++scan) release.scanned(c.tables[scan]);
    EXPECT_EQ(released, c.releasedAfter) << c.name;
  }
}

}  // namespace
}  // namespace tovami::linux_backend
