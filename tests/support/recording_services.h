// A service the app drives (start and stop, hook install, island), recording each call by name.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/app_services.h"

namespace tovami::testing {

struct RecordingServices : StartStopControl, HookInstallControl, IslandControl {
  std::vector<std::string> calls;
  bool installs = true, removes = true;
  std::optional<std::string> failure;  // the installer's own reason
  std::optional<std::string> failureText() const override { return failure; }
  void start() override { calls.push_back("start"); }
  void stop() override { calls.push_back("stop"); }
  bool install() override { return calls.push_back("install"), installs; }
  bool remove() override { return calls.push_back("remove"), removes; }
  void refresh() override { calls.push_back("refresh"); }
  void peek() override { calls.push_back("peek"); }
  void toggle() override {}
  void teardown() override {}
  void screensChanged() override {}
};

}  // namespace tovami::testing
