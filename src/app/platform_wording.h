// The few words and key spellings that differ between platforms. Every user-facing text that
// names the machine, its authentication or its shortcuts takes them from here, so the macOS
// build shows its texts exactly and the Linux build speaks Linux.
#pragma once

namespace tovami::wording {

#if defined(__APPLE__)
inline constexpr const char* kMachine = "Mac";
inline constexpr const char* kAuthentication = "Touch ID or password";
inline constexpr const char* kNapHotKey = "\u2325\u2318N";
inline constexpr const char* kIslandHotKey = "\u2325\u2318A";
inline constexpr const char* kBelowMenuBar = "below the menu bar";
inline constexpr const char* kCredentialSource = "the Keychain (the system asks first)";
inline constexpr const char* kTourCredentialSource = "the Keychain (macOS asks first)";
inline constexpr const char* kAuthenticationNeeded = "needs Touch ID or a login password";
inline constexpr const char* kAccessibilitySupport = "macOS Accessibility";
inline constexpr const char* kAccessibilityGranted = "Accessibility granted";
inline constexpr const char* kIslandName = "Notch island";
inline constexpr const char* kIslandMenuItem = "Notch Island";
inline constexpr const char* kIslandPlace = "the notch";
inline constexpr const char* kShowIsland = "Show the island in the notch";
inline constexpr const char* kApprovalsName = "Notch approvals";
inline constexpr const char* kFloatingIslandCaption =
    "Your Mac has no notch, so the island floats instead of hiding in one.";
inline constexpr const char* kFloatingHeadline = "No notch? The island floats.";
#else
inline constexpr const char* kMachine = "computer";
inline constexpr const char* kAuthentication = "Your password";
inline constexpr const char* kNapHotKey = "Ctrl+Alt+N";
inline constexpr const char* kIslandHotKey = "Ctrl+Alt+A";
inline constexpr const char* kBelowMenuBar = "at the top of the screen";
inline constexpr const char* kCredentialSource = "Claude Code's own credentials file (read only)";
inline constexpr const char* kTourCredentialSource = "Claude Code's own credentials file (read only)";
inline constexpr const char* kAuthenticationNeeded = "needs a login password that can be checked here";
inline constexpr const char* kAccessibilitySupport = "the desktop's accessibility support";
inline constexpr const char* kAccessibilityGranted = "Accessibility support is on";
// No notch here: the island is a small panel at the top of the screen.
inline constexpr const char* kIslandName = "Island";
inline constexpr const char* kIslandMenuItem = "Island";
inline constexpr const char* kIslandPlace = "the island";
inline constexpr const char* kShowIsland = "Show the island at the top of the screen";
inline constexpr const char* kApprovalsName = "Approvals";
inline constexpr const char* kFloatingIslandCaption = "The island is a small panel at the top of the screen.";
inline constexpr const char* kFloatingHeadline = "Meet the island.";
#endif

}  // namespace tovami::wording
