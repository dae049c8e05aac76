// Synthetic key presses, for answering an agent's prompt in its terminal.
#pragma once

namespace tovami {

enum class AnswerKey { returnKey, escape };

class KeySynthesizer {
 public:
  virtual ~KeySynthesizer() = default;
  // One key-down and one key-up of `key` into the window that has the keyboard focus. Main thread.
  // False when the keys could not be posted.
  virtual bool postKey(AnswerKey key) = 0;
};

}  // namespace tovami
