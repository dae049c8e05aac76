// The floor of scan_cpu.py: a thread that wakes every 3 s and does nothing, as the agent watcher's
// queue wakes for each scan. Whatever a wake costs on this machine (the timer, the switch, the
// scheduler's bookkeeping) is in each scan of the running program too.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

int main() {
  std::mutex mutex;
  std::condition_variable never;
  std::thread waker([&] {
    std::unique_lock lock(mutex);
    for (;;) never.wait_until(lock, std::chrono::steady_clock::now() + std::chrono::seconds(3));
  });
  waker.join();
}
