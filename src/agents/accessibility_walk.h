// Walks over another application's accessibility tree: finding the tab that names a project,
// bringing a window forward by its title, pressing a menu item, and the diagnostic dump.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/accessibility.h"
#include "platform/window_activation.h"

namespace tovami {

// One counter shared by every branch of a recursive walk.
struct BudgetBox {
  int remaining = 0;
};

inline constexpr int kFindTabMaxDepth = 6;
// Elements one tab search may visit: a tree of thousands of elements (or a cycle) ends early.
inline constexpr int kFindTabBudget = 2000;
inline constexpr int kDumpMaxDepth = 9;
inline constexpr int kDumpBudget = 400;

// Unicode lower case, code point by code point; invalid bytes are kept.
std::string lowercased(std::string_view text);

// Depth-first search below `element` for a tab or button whose title (else description), lower
// cased, contains `needle` (already lower case). Stops below depth 6 and when the budget is spent.
AccessibleRef findTab(const AccessibleRef& element, const std::string& needle, int depth, BudgetBox& budget);

// Brings forward the window of `pid` whose title mentions `hint` (case-insensitive; first the
// window manager's titles, then, when the tree is available, a tab found with findTab, pressed,
// and its window raised). True when something was brought forward.
bool focusWindow(int32_t pid, const std::string& hint, WindowActivation& windows,
                 Accessibility& accessibility);

// Presses the item `itemTitle` of the menu `menuTitle` in the application's menu bar.
bool pressMenuItem(int32_t pid, const std::string& menuTitle, const std::string& itemTitle,
                   Accessibility& accessibility);

// The diagnostic: one line per element, two spaces per level; at most depth 9 and the budget.
void dumpElement(const AccessibleRef& element, int depth, BudgetBox& budget, std::string& out);
// The whole diagnostic for the application named `appName`, as printed by "--dump-ax".
std::string dumpAccessibility(const std::string& appName, Accessibility& accessibility);

}  // namespace tovami
