// The floor of scan_cpu.py: a thread that wakes every 3 s and does nothing, as the agent watcher's
// queue wakes for each scan. Whatever a wake costs on this machine (the timer, the switch, the
// scheduler's bookkeeping) is in each scan of the running program too.
//
//     periodic_wake [resident MB]
//
// With a size, the process first fills that much memory and keeps it resident without touching it
// again: on some virtual machines a wake costs in proportion to the process's resident memory, so
// the floor of a program of Tovami's size is measured with Tovami's size.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

int main(int argc, char** argv) {
  const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 0;
  const auto resident = std::make_unique<char[]>(megabytes << 20);
  std::memset(resident.get(), 1, megabytes << 20);
  std::mutex mutex;
  std::condition_variable never;
  std::thread waker([&] {
    std::unique_lock lock(mutex);
    for (;;) never.wait_until(lock, std::chrono::steady_clock::now() + std::chrono::seconds(3));
  });
  waker.join();
}
