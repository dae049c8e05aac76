// The desktop's applications: the pids that own windows and the one in front.
#pragma once

#include <optional>
#include <set>
#include <utility>

#include "platform/running_apps.h"

namespace tovami::testing {

struct FakeRunningApplications : RunningApplications {
  explicit FakeRunningApplications(std::set<int32_t> pids = {}) : registered(std::move(pids)) {}
  bool isRegisteredApplication(int32_t pid) override { return ++queries, registered.contains(pid); }
  std::optional<int32_t> frontmostApplicationPID() override { return frontmost; }
  std::set<int32_t> registered;
  std::optional<int32_t> frontmost;
  int queries = 0;
};

}  // namespace tovami::testing
