// The tray item's menu: what it lists, in which order, with which shortcuts, and what each entry
// calls. The composition root fills the model; the menu holds no state of its own.
#pragma once

#include <QMenu>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "approvals/approval_presentation.h"

namespace tovami::linux_backend {

inline constexpr const char* kProductPage = "https://tovami.app";

struct TrayMenuModel {
  struct AgentRow {
    std::string title;
    int32_t pid = 0;
    bool operator==(const AgentRow&) const = default;
  };
  bool napAvailable = true;  // a nap needs X11
  bool islandOn = false;
  bool agentWatchOn = false;
  std::vector<AgentRow> agents;
  // The request in front, first in the menu, so it can be answered with the island off.
  std::vector<ApprovalMenuRow> approvals;

  std::function<void()> startNap;
  std::function<void(bool)> setIslandOn;
  std::function<void(bool)> setAgentWatchOn;
  std::function<void(int32_t pid)> jumpToAgent;
  std::function<void(const std::string& requestId, ApprovalDecision decision)> answer;
  std::function<void()> openSettings;
  std::function<void()> openAbout;
  std::function<void()> quit;
};

// Appends the entries to `menu` (cleared by the caller).
void fillTrayMenu(QMenu& menu, const TrayMenuModel& model);

}  // namespace tovami::linux_backend
