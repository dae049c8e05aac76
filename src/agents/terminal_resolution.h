// In which terminal application an agent runs: the first ancestor whose executable name is a
// known terminal, and the process that stands for that application (the one owning windows).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "agents/process_table.h"
#include "platform/running_apps.h"

namespace tovami {

struct TerminalApp {
  const char* executablePrefix;  // case-sensitive
  const char* terminalName;      // what the rest of the program shows and chooses strategies by
  // Short or common names ("st", "rio") must equal the executable name instead of starting it.
  bool exact = false;
};

// First match wins. The first 17 rows are the macOS-era table; the rest are Linux terminals.
inline constexpr std::array<TerminalApp, 48> kTerminalApps{{
    {"iTerm2", "iTerm2"},
    {"Terminal", "Terminal"},
    {"ghostty", "Ghostty"},
    {"Ghostty", "Ghostty"},
    {"Warp", "Warp"},
    {"stable", "Warp"},
    {"wezterm-gui", "WezTerm"},
    {"kitty", "kitty"},
    {"alacritty", "Alacritty"},
    {"Alacritty", "Alacritty"},
    {"zellij", "Zellij"},
    {"tmux", "tmux"},
    {"Code Helper", "VS Code"},
    {"Code - Insiders", "VS Code"},
    {"Cursor Helper", "Cursor"},
    {"zed", "Zed"},
    {"Hyper", "Hyper"},
    // Linux
    {"gnome-terminal", "GNOME Terminal"},  // gnome-terminal-server hosts every window
    {"kgx", "Console"},                    // GNOME Console
    {"ptyxis", "Ptyxis"},                  // ptyxis-agent is its pty host
    {"konsole", "Konsole"},
    {"xfce4-terminal", "Xfce Terminal"},
    {"mate-terminal", "MATE Terminal"},
    {"lxterminal", "LXTerminal"},
    {"qterminal", "QTerminal"},
    {"deepin-terminal", "Deepin Terminal"},
    {"tilix", "Tilix"},
    {"terminator", "Terminator"},
    {"guake", "Guake"},
    {"tilda", "Tilda"},
    {"terminology", "Terminology"},
    {"sakura", "Sakura"},
    {"xterm", "xterm"},
    {"uxterm", "xterm"},
    {"urxvt", "urxvt"},
    {"rxvt", "rxvt"},
    {"foot", "foot"},
    {"st", "st", true},
    {"wezterm", "WezTerm"},  // wezterm-mux-server and older wezterm builds
    {"contour", "Contour"},
    {"rio", "Rio", true},
    {"warp-terminal", "Warp"},
    {"cool-retro-term", "cool-retro-term"},
    {"screen", "screen", true},
    {"SCREEN", "screen", true},  // GNU screen's server renames itself
    {"code", "VS Code", true},
    {"code-insiders", "VS Code", true},
    {"cursor", "Cursor", true},
}};

// Terminal row for an executable name, or nullptr.
const TerminalApp* terminalAppFor(const std::string& executable);

struct TerminalMatch {
  std::string terminalName;
  int32_t terminalPID = 0;
  bool operator==(const TerminalMatch&) const = default;
};

// Walks at most 30 ancestors of `pid` (starting with its parent) for a known terminal.
// Terminals that are scripts (Terminator, Guake) show as "python3 /usr/bin/terminator": for a
// Python interpreter the script's name is matched instead.
std::optional<TerminalMatch> resolveTerminal(int32_t pid, const ProcessMap& byPid, RunningApplications& apps);

// The pid standing for the terminal application of the matched ancestor `pid`: `pid` itself when
// it is an application, else the highest application among its 10 nearest ancestors, else `pid`.
int32_t terminalAppPID(int32_t pid, const ProcessMap& byPid, RunningApplications& apps);

}  // namespace tovami
