// The "one shared instance, created on first use" rule for long-lived services. The
// composition root installs a factory with the production dependencies; the first call to
// shared() creates the instance, which then lives until exit. Tests construct their own
// instances directly and never go through shared().
#pragma once

#include <functional>
#include <memory>
#include <mutex>

namespace tovami {

template <typename T>
class SharedInstance {
 public:
  using Factory = std::function<std::shared_ptr<T>()>;

  static void setFactory(Factory factory) {
    std::lock_guard lock(state().mutex);
    state().factory = std::move(factory);
  }

  // Null when no factory was installed (the service is not part of this program).
  static std::shared_ptr<T> shared() {
    std::lock_guard lock(state().mutex);
    auto& s = state();
    if (!s.instance && s.factory) s.instance = s.factory();
    return s.instance;
  }

  static bool exists() {
    std::lock_guard lock(state().mutex);
    return state().instance != nullptr;
  }

 private:
  struct State {
    std::recursive_mutex mutex;
    Factory factory;
    std::shared_ptr<T> instance;
  };
  static State& state() {
    static State s;
    return s;
  }
};

}  // namespace tovami
