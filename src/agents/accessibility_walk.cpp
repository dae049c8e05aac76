#include "agents/accessibility_walk.h"

#include <utf8proc.h>

#include "platform/log.h"

namespace tovami {
namespace {

bool contains(const std::optional<std::string>& text, const std::string& needle) {
  return text && lowercased(*text).find(needle) != std::string::npos;
}

// After a tab was pressed: the window raises itself when its tree can, else the window manager
// activates the window of `pid` with the same title, else the first window of `pid`.
bool raiseWindow(int32_t pid, const AccessibleRef& window, WindowActivation& windows) {
  if (window->perform(accessible_actions::kRaise)) return true;
  const auto title = window->title();
  const auto list = windows.windowsOf(pid);
  for (const auto& candidate : list)
    if (title && candidate.title == *title) return windows.activate(candidate.id);
  return !list.empty() && windows.activate(list.front().id);
}

}  // namespace

std::string lowercased(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    utf8proc_int32_t c = 0;
    const auto used = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + i),
                                       static_cast<utf8proc_ssize_t>(text.size() - i), &c);
    if (used <= 0) {
      out.push_back(text[i++]);
      continue;
    }
    utf8proc_uint8_t buffer[4];
    const auto length = utf8proc_encode_char(utf8proc_tolower(c), buffer);
    out.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(length));
    i += static_cast<size_t>(used);
  }
  return out;
}

AccessibleRef findTab(const AccessibleRef& element, const std::string& needle, int depth, BudgetBox& budget) {
  if (!element || depth > kFindTabMaxDepth) return nullptr;
  const auto children = element->children();
  if (!children) return nullptr;
  for (const auto& child : *children) {
    if (!child || budget.remaining < 1) return nullptr;
    --budget.remaining;
    const auto kind = child->kind();
    if ((kind == AccessibleKind::tab || kind == AccessibleKind::button) &&
        (contains(child->title(), needle) || contains(child->description(), needle)))
      return child;
    if (auto hit = findTab(child, needle, depth + 1, budget)) return hit;
  }
  return nullptr;
}

bool focusWindow(int32_t pid, const std::string& hint, WindowActivation& windows,
                 Accessibility& accessibility) {
  const std::string needle = lowercased(hint);
  for (const auto& window : windows.windowsOf(pid))
    if (lowercased(window.title).find(needle) != std::string::npos) return windows.activate(window.id);
  if (!accessibility.isTrusted()) return false;
  const auto application = accessibility.application(pid);
  if (!application) return false;
  for (const auto& window : accessibility.windows(application)) {
    BudgetBox budget{kFindTabBudget};
    if (auto tab = findTab(window, needle, 0, budget)) {
      tab->perform(accessible_actions::kPress);
      raiseWindow(pid, window, windows);
      return true;
    }
  }
  return false;
}

bool pressMenuItem(int32_t pid, const std::string& menuTitle, const std::string& itemTitle,
                   Accessibility& accessibility) {
  const auto application = accessibility.application(pid);
  if (!application) return false;
  AccessibleRef bar = accessibility.menuBar(application);
  if (!bar) {
    const auto children = application->children();
    if (!children || children->empty()) return false;
    for (const auto& child : *children)
      if (child && child->kind() == AccessibleKind::menuBar) {
        bar = child;
        break;
      }
    if (!bar) bar = children->front();
  }
  if (!bar) return false;
  const auto menus = bar->children();
  if (!menus) return false;
  for (const auto& menuBarItem : *menus) {
    if (!menuBarItem || menuBarItem->title() != menuTitle) continue;
    for (const auto& menu : menuBarItem->children().value_or(std::vector<AccessibleRef>{})) {
      if (!menu) continue;
      for (const auto& item : menu->children().value_or(std::vector<AccessibleRef>{}))
        if (item && item->title() == itemTitle) return item->perform(accessible_actions::kPress);
    }
  }
  return false;
}

void dumpElement(const AccessibleRef& element, int depth, BudgetBox& budget, std::string& out) {
  if (!element || depth > kDumpMaxDepth || budget.remaining < 1) return;
  --budget.remaining;
  const std::string role = element->role().value_or("?");
  const std::string subrole = element->subrole().value_or("");
  const std::string title = element->title().value_or("");
  const std::string indent(static_cast<size_t>(depth) * 2, ' ');
  out += indent + role + (subrole.empty() ? "" : "/" + subrole) + " title='" + title + "' desc='" +
         element->description().value_or("") + "'\n";
  if (element->kind() == AccessibleKind::menuBarItem && title == "Apple") return;
  if (const auto tabs = element->tabCount()) out += indent + "  [AXTabs: " + std::to_string(*tabs) + "]\n";
  if (const auto children = element->children())
    for (const auto& child : *children) dumpElement(child, depth + 1, budget, out);
}

std::string dumpAccessibility(const std::string& appName, Accessibility& accessibility) {
  const bool trusted = accessibility.isTrusted();
  std::string out = std::string("AX trusted: ") + (trusted ? "true" : "false") + "\n";
  if (!trusted) {
    const std::string how = accessibility.howToEnable();
    if (!how.empty()) out += how + "\n";
  }
  const auto application = accessibility.applicationNamed(appName);
  if (!application) return out + "no running app named " + appName + "\n";
  BudgetBox budget{kDumpBudget};
  dumpElement(application, 0, budget, out);
  return out;
}

}  // namespace tovami
