// An accessibility bus holding the trees of some applications; a request for trust turns it on only when
// the desktop allows it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/accessibility.h"

namespace tovami::testing {

struct FakeAccessibility : Accessibility {
  bool trusted = true, allowed = false;
  int requests = 0;
  std::map<int32_t, AccessibleRef> apps;
  bool isTrusted() override { return trusted; }
  void requestTrust() override { ++requests, trusted = allowed; }
  std::string howToEnable() override { return "turn it on"; }
  AccessibleRef application(int32_t pid) override { return apps.contains(pid) ? apps[pid] : nullptr; }
  AccessibleRef applicationNamed(const std::string& name) override {
    for (auto& entry : apps)
      if (entry.second->title() == name) return entry.second;
    return nullptr;
  }
  std::vector<AccessibleRef> windows(const AccessibleRef& app) override {
    return app ? app->children().value_or(std::vector<AccessibleRef>{}) : std::vector<AccessibleRef>{};
  }
  AccessibleRef menuBar(const AccessibleRef&) override { return nullptr; }
};

}  // namespace tovami::testing
