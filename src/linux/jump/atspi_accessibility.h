// The accessibility tree over AT-SPI: D-Bus calls to the accessibility bus (its address from
// org.a11y.Bus on the session bus). Every call carries a short time-out; an application that
// lets one lapse is left alone for a while, so a hung program costs one time-out, not one per
// element. Blocking: use it from the jump queue or a one-shot tool, never the GUI thread.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/accessibility.h"

namespace tovami::linux_backend {

class AtspiBus;

class AtspiAccessibility final : public Accessibility {
 public:
  explicit AtspiAccessibility(int callTimeoutMs = 250);
  ~AtspiAccessibility() override;

  bool isTrusted() override;
  void requestTrust() override;
  std::string howToEnable() override;
  AccessibleRef application(int32_t pid) override;
  AccessibleRef applicationNamed(const std::string& name) override;
  std::vector<AccessibleRef> windows(const AccessibleRef& application) override;
  AccessibleRef menuBar(const AccessibleRef&) override { return nullptr; }

 private:
  std::vector<AccessibleRef> applications();
  std::shared_ptr<AtspiBus> bus_;
};

}  // namespace tovami::linux_backend
