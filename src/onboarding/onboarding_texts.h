// The welcome tour's texts. Words that differ between platforms come from platform_wording.h.
#pragma once

#include <string>

#include "app/platform_wording.h"

namespace tovami::tour_texts {

inline const std::string kSkip = "Skip the tour";
inline const std::string kContinue = "Continue";

inline const std::string kWelcomeHeadline = "This cat naps for a living.";
inline const std::string kWelcomeText = std::string("One hotkey makes your ") + wording::kMachine +
                                        " look asleep while builds, agents, and downloads keep running.";
inline const std::string kShowMe = "Show me";

inline std::string hotkeyHeadline(const std::string& keys) {
  return "Press " + keys + ". Go ahead.";
}
inline const std::string kHotkeyHeadline = hotkeyHeadline(wording::kNapHotKey);
inline const std::string kHotkeySuccess = "That's the one. Your screen would be napping right now.";
inline const std::string kTryLater = "I'll try later";

inline const std::string kWakeHeadline = "Who's allowed to wake it?";
inline const std::string kJustWakeTitle = "Just wake";
inline const std::string kJustWakeCaption = "Space or click. For solo desks.";
inline const std::string kAuthWakeTitle = wording::kAuthentication;
inline const std::string kAuthWakeCaption = "For open offices and roommates.";
inline const std::string kAuthUnavailableCaption = wording::kAuthenticationNeeded;
inline const std::string kAuthSessionCaption = "A nap here cannot keep the keyboard from other windows.";

inline const std::string kNotchHeadline = "Your notch is now a cat door.";
inline const std::string kNotchText = "Hover it to start a nap from up there. Watch \u2014";
inline const std::string kNotchSwitch = "Show the island in my notch";
inline const std::string kFloatingHeadline = wording::kFloatingHeadline;
inline const std::string kFloatingSwitch = std::string("Show a floating island ") + wording::kBelowMenuBar;

inline const std::string kAgentsHeadline = "It watches your agents, too.";
inline const std::string kAgentsText =
    std::string(
        "Claude Code, Codex, Gemini CLI, and friends show up as live cards \u2014 blue while they work, "
        "terracotta when one needs you. Press ") +
    wording::kIslandHotKey + " to open the panel from anywhere.";
inline const std::string kAgentsNote =
    std::string("Approving Claude Code from ") + wording::kIslandPlace + " is opt-in, in Settings.";

inline const std::string kPermissionsHeadline = "Three switches. All yours.";
inline const std::string kPermissionsText = "Every one of these lives in Settings; nothing is required.";
inline const std::string kStartLounging = "Start lounging";
inline const std::string kJumpsTitle = "Tab-precise jumps";
inline const std::string kJumpsNeedTrust =
    std::string("Needs ") + wording::kAccessibilitySupport + " to focus exact terminal tabs.";
inline const std::string kJumpsTrusted =
    std::string(wording::kAccessibilityGranted) + " \u2014 clicks land on exact tabs.";
inline const std::string kGrant = "Grant\u2026";
inline const std::string kApprovalsTitle = std::string("Approve Claude from ") + wording::kIslandPlace;
inline const std::string kApprovalsCaption = "One consented hook; fires only when Claude asks. Removable.";
inline const std::string kUsageTitle = "Claude usage meter";
inline const std::string kUsageCaption =
    std::string("Reads your login from ") + wording::kTourCredentialSource + ".";

}  // namespace tovami::tour_texts
