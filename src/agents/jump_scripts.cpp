#include "agents/jump_scripts.h"

namespace tovami {
namespace {

constexpr const char* kTerminalHead =
    "tell application \"Terminal\"\n"
    "    repeat with w in windows\n"
    "        repeat with t in tabs of w\n"
    "            if tty of t is \"";
constexpr const char* kTerminalTail =
    "\" then\n"
    "                set selected of t to true\n"
    "                set index of w to 1\n"
    "                activate\n"
    "                return\n"
    "            end if\n"
    "        end repeat\n"
    "    end repeat\n"
    "end tell";
constexpr const char* kITermHead =
    "tell application \"iTerm2\"\n"
    "    repeat with w in windows\n"
    "        repeat with t in tabs of w\n"
    "            repeat with s in sessions of t\n"
    "                if tty of s is \"";
constexpr const char* kITermTail =
    "\" then\n"
    "                    select w\n"
    "                    select t\n"
    "                    select s\n"
    "                    activate\n"
    "                    return\n"
    "                end if\n"
    "            end repeat\n"
    "        end repeat\n"
    "    end repeat\n"
    "end tell";

}  // namespace

std::optional<std::string> appleScript(const std::string& terminalName, const std::string& ttyPath) {
  if (terminalName == "Terminal") return kTerminalHead + ttyPath + kTerminalTail;
  if (terminalName == "iTerm2") return kITermHead + ttyPath + kITermTail;
  return std::nullopt;
}

}  // namespace tovami
