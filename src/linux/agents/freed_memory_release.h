// Gives the heap memory a crowded process table used back to the system once the table shrinks.
// glibc keeps freed blocks in its arenas, between the blocks still in use, until the program
// ends: without this, the resident memory follows the largest table seen since the start (a
// build or a test that ran thousands of processes an hour ago), not the table of now.
#pragma once

#include <cstddef>
#include <functional>

namespace tovami::linux_backend {

class FreedMemoryRelease {
 public:
  // A table must have shrunk by this many processes, and by a quarter, below its peak since the
  // last release: small swings cost nothing to keep, and a release walks every free block.
  static constexpr size_t kMinimumDrop = 256;

  // `release` defaults to malloc_trim(0).
  explicit FreedMemoryRelease(std::function<void()> release = {});

  // After each scan, with the number of processes it found.
  void scanned(size_t processes);

 private:
  std::function<void()> release_;
  size_t peak_ = 0;
};

}  // namespace tovami::linux_backend
