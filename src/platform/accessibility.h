// The accessibility tree of other applications (AT-SPI on Linux, the AX API on macOS), reduced to
// what the terminal jump needs: reading an element's texts and children and performing an action.
// Calls may block on another process: the backend bounds each one with a time-out, and callers
// use them off the main thread (or in a one-shot tool).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tovami {

// What the jump compares roles by; each backend maps its own role names onto these.
enum class AccessibleKind { tab, button, menuBar, menuBarItem, other };

class AccessibleElement {
 public:
  virtual ~AccessibleElement() = default;
  // The platform's own role name ("page tab", "AXRadioButton"), absent when it cannot be read.
  virtual std::optional<std::string> role() = 0;
  virtual AccessibleKind kind() = 0;
  virtual std::optional<std::string> subrole() = 0;
  virtual std::optional<std::string> title() = 0;
  virtual std::optional<std::string> description() = 0;
  // Number of tabs when the element is a tab list (the "AXTabs" attribute), else nothing.
  virtual std::optional<int> tabCount() = 0;
  // Nothing when the element has no children attribute (or the application stopped answering).
  virtual std::optional<std::vector<std::shared_ptr<AccessibleElement>>> children() = 0;
  // "press" (tabs, buttons, menu items) or "raise" (windows); true when the action reported no error.
  virtual bool perform(const std::string& action) = 0;
};
using AccessibleRef = std::shared_ptr<AccessibleElement>;

namespace accessible_actions {
inline constexpr const char* kPress = "press";
inline constexpr const char* kRaise = "raise";
}  // namespace accessible_actions

class Accessibility {
 public:
  virtual ~Accessibility() = default;
  // Whether the program may read other applications' trees (macOS: trusted; Linux: the
  // accessibility bus is enabled).
  virtual bool isTrusted() = 0;
  // Asks for the permission: the system's prompt, or a log line saying how to turn it on.
  virtual void requestTrust() = 0;
  // What to tell a person on the command line when the tree is not available ("" when nothing).
  virtual std::string howToEnable() = 0;
  virtual AccessibleRef application(int32_t pid) = 0;
  // The first running application whose name equals `name` exactly.
  virtual AccessibleRef applicationNamed(const std::string& name) = 0;
  // The application's windows, in the platform's order; empty when none can be read.
  virtual std::vector<AccessibleRef> windows(const AccessibleRef& application) = 0;
  // The menu bar element ("AXMenuBar"), when the platform has that attribute.
  virtual AccessibleRef menuBar(const AccessibleRef& application) = 0;
};

// No accessibility service at all: never trusted, no elements.
class NoAccessibility final : public Accessibility {
 public:
  bool isTrusted() override { return false; }
  void requestTrust() override {}
  std::string howToEnable() override { return {}; }
  AccessibleRef application(int32_t) override { return nullptr; }
  AccessibleRef applicationNamed(const std::string&) override { return nullptr; }
  std::vector<AccessibleRef> windows(const AccessibleRef&) override { return {}; }
  AccessibleRef menuBar(const AccessibleRef&) override { return nullptr; }
};

}  // namespace tovami
