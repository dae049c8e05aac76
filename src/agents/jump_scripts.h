// The scripts that select a terminal tab by its tty (Terminal and iTerm2 on macOS).
#pragma once

#include <optional>
#include <string>

namespace tovami {

// The script for "Terminal" or "iTerm2" with `ttyPath` ("/dev/ttys004") between its two halves;
// nothing for any other terminal.
std::optional<std::string> appleScript(const std::string& terminalName, const std::string& ttyPath);

}  // namespace tovami
