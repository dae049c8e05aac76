// What the nap controller asks of the scene drawn inside its blackout windows: forget the wake
// hint when a nap starts, and show it when the user touches the keyboard or the mouse.
#pragma once

#include <string>

namespace tovami {

class NapOverlayHints {
 public:
  virtual ~NapOverlayHints() = default;
  virtual void reset() = 0;
  virtual void showHint() = 0;
  // A line that stays for the whole nap (empty: none); reset() clears it.
  virtual void showNotice(const std::string& text) { (void)text; }
};

// For a nap whose windows draw no scene.
class NoOverlayHints final : public NapOverlayHints {
 public:
  void reset() override {}
  void showHint() override {}
};

}  // namespace tovami
