// Synthetic keys through XTest, on the program's own X connection, typed into whatever window has
// the keyboard focus (callers verify that the target is in front first). Characters missing from
// the keyboard map are typed through a spare key code that is mapped for the moment and restored.
#pragma once

#include <mutex>
#include <string>

#include "platform/window_activation.h"

struct xcb_connection_t;

namespace tovami::linux_backend {

class XTestInput final : public SyntheticInput {
 public:
  XTestInput() = default;
  ~XTestInput() override;
  XTestInput(const XTestInput&) = delete;
  XTestInput& operator=(const XTestInput&) = delete;

  bool pressKey(Key key) override;
  bool typeText(const std::string& text, int32_t pid) override;

 private:
  bool connect();
  bool typeKeysym(uint32_t keysym);

  std::mutex mutex_;
  xcb_connection_t* connection_ = nullptr;
};

}  // namespace tovami::linux_backend
