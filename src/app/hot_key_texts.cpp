#include "app/hot_key_texts.h"

namespace tovami {

std::string hotKeyKeys(const HotKeyBinding& binding, std::string_view usual) {
  return binding.trigger.empty() ? std::string(usual) : binding.trigger;
}

std::string hotKeyProblem(const HotKeyBinding& binding, std::string_view usual) {
  using State = HotKeyBinding::State;
  switch (binding.state) {
    case State::pending:
    case State::bound:
    case State::unnamed:
      return {};
    case State::taken:
      return "Not available: another program holds " + std::string(usual) + ".";
    case State::refused:
      return "Not available: the desktop declined it. Allow it in the desktop's shortcut settings.";
    case State::noKeys:
      return "No keys: the desktop assigned none. Choose some in the desktop's shortcut settings.";
  }
  return {};
}

std::string hotKeyRowText(const HotKeyBinding& binding, std::string_view usual) {
  if (binding.state == HotKeyBinding::State::pending)
    return hotKeyKeys(binding, usual) + " (waiting for the desktop to confirm)";
  if (binding.state == HotKeyBinding::State::unnamed)
    return "The keys set in the desktop's shortcut settings";
  std::string problem = hotKeyProblem(binding, usual);
  return problem.empty() ? hotKeyKeys(binding, usual) : problem;
}

}  // namespace tovami
