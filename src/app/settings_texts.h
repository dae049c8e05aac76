// The settings window's texts. A caption's first sentence is shown (at most two lines); the rest is
// behind "More…" and in its tooltip.
#pragma once

#include <string>

#include "app/platform_wording.h"

namespace tovami::settings_texts {

using wording::kMachine;

// The pages, in the list's order.
inline const std::string kNapPage = "Nap";
inline const std::string kIslandPage = "Island";
inline const std::string kAgentsPage = "Agents";
inline const std::string kApprovalsPage = "Approvals";
inline const std::string kUsagePage = "Usage";
inline const std::string kOtherMachinesPage = "Other machines";
inline const std::string kGeneralPage = "General";
inline const std::string kMore = "More\u2026";

inline const std::string kWakingSection = "Waking from a nap";
inline const std::string kWakeRequires = "Wake requires";
inline const std::string kJustWake = "Just wake";
inline const std::string kAuthWake = wording::kAuthentication;
inline const std::string kPasswordCannotProtect =
    "In this Wayland session a nap wakes without asking for the password. It cannot keep the keyboard "
    "from other windows, so a password would protect nothing.";

inline const std::string kIslandSection = wording::kIslandName;
inline const std::string kShowInNotch = wording::kShowIsland;
inline const std::string kShowFloating = std::string("Show a floating island ") + wording::kBelowMenuBar;
inline const std::string kNoNotchCaption = wording::kFloatingIslandCaption;
inline const std::string kExpandOnHover = "Expand on hover";
inline const std::string kShowCat = std::string("Show the cat in ") + wording::kIslandPlace;

inline const std::string kAgentSection = "Agent Watch";
inline const std::string kWatchAgents = "Watch coding agents in the island";
inline const std::string kKeepAwake = std::string("Keep the ") + kMachine + " awake while agents work";
inline const std::string kBatteryGuard = "Pause keep-awake below 15% battery";
inline const std::string kShowSnippets = "Show last messages from sessions";
inline const std::string kOpensIsland = "Open the island when an agent needs you";
inline const std::string kPlaySounds = "Play sounds for agent events";
inline const std::string kSoundsCaption =
    "Three quiet chimes: Glass when an agent finishes a long stretch, Ping when one needs a yes, Purr when a "
    "nap ends. Naps themselves are always silent.";
inline const std::string kAgentCaption =
    "Tovami samples your own process list to find running agents \u2014 Claude Code, Codex, Gemini CLI, "
    "Cursor, "
    "and friends. Message lines come from Claude Code's own transcript files. Read-only, fully local, "
    "nothing "
    "configured or sent anywhere.";

inline const std::string kApprovalsSection = wording::kApprovalsName;
inline const std::string kApproveFromNotch = std::string("Approve Claude Code from ") + wording::kIslandPlace;
inline const std::string kApprovalsError = "Couldn't update ~/.claude/settings.json \u2014 is it valid JSON?";
inline const std::string kApprovalsCaption =
    std::string("Adds two Claude Code hooks (entries in ~/.claude/settings.json, backed up first) that offer "
                "each permission ask to ") +
    wording::kIslandPlace +
    ". They go in only while Tovami's approval socket listens; a settings "
    "file Claude Code would reject is left untouched, with the reason shown here. Answer in Tovami, or "
    "ignore it \u2014 the terminal prompt always works exactly as before. Turning this off removes the "
    "hooks completely.";
inline const std::string kApproveCodex = std::string("Approve Codex from ") + wording::kIslandPlace;
inline const std::string kCodexApprovalsCaption =
    "Adds one Codex hook (an entry in ~/.codex/hooks.json, backed up first). Codex asks you once to trust "
    "it in its /hooks screen before it runs it. When nobody answers in Tovami within 25 seconds, Codex "
    "shows its own prompt. Turning this off removes the hook.";

inline const std::string kUsageSection = "Claude usage";
inline const std::string kShowUsage = "Show plan usage in the island";
inline const std::string kUsageCaption =
    std::string("Fetches your five-hour and seven-day usage from api.anthropic.com every 5 minutes: "
                "Tovami's only network request. It reads your Claude Code login from ") +
    wording::kCredentialSource + ".";

inline const std::string kStatusLineFeed = "Read usage and session details from Claude Code's status line";
inline const std::string kStatusLineFeedCaption =
    "Claude Code hands each message's usage, model, context, cost and branch to Tovami through its status "
    "line command, which then wraps yours (it prints as before). The usage endpoint is asked only when no "
    "session has reported for 10 minutes. Turning this off puts your status line back as it was.";
inline const std::string kPhonePush = "Send Claude Code's phone notifications only while I'm away";
inline const std::string kPhonePushCaption =
    std::string("Claude Code's Remote Control then rings your phone only while you nap or the screen is "
                "locked. Tovami names a presence file in ~/.claude/settings.json (backed up first) and keeps "
                "it while you are at the ") +
    kMachine + ".";

inline const std::string kStartAtLogin = "Start Tovami at login";
inline const std::string kLoginItemErrorPrefix = "Couldn't change this: ";
inline const std::string kNapHotKeyLabel = "Nap hotkey";
inline const std::string kIslandHotKeyLabel = "Agents panel hotkey";
inline const std::string kNapHotKeyValue = wording::kNapHotKey;
inline const std::string kIslandHotKeyValue = wording::kIslandHotKey;
inline const std::string kShowTourAgain = "Show welcome tour again";
inline const std::string kFooter = "Tovami 1.2";

}  // namespace tovami::settings_texts
