// How a hot key is named to the user: the keys the desktop actually bound, or why there are none.
// The settings window's rows and the tour's hot-key step say the same.
#pragma once

#include <string>
#include <string_view>

#include "platform/hot_keys.h"

namespace tovami {

// The keys to press: the desktop's trigger where it names one, else the usual combination.
std::string hotKeyKeys(const HotKeyBinding& binding, std::string_view usual);

// A settings row: the keys, or in plain words why the key does nothing.
std::string hotKeyRowText(const HotKeyBinding& binding, std::string_view usual);

// Why the key cannot be pressed now; empty when it can (or may soon: pending).
std::string hotKeyProblem(const HotKeyBinding& binding, std::string_view usual);

}  // namespace tovami
