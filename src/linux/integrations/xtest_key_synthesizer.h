// Return and Escape into the focused window through the X server's XTest extension.
#pragma once

#include "platform/key_synthesis.h"

namespace tovami::linux_backend {

class XTestKeySynthesizer final : public KeySynthesizer {
 public:
  bool postKey(AnswerKey key) override;
};

}  // namespace tovami::linux_backend
