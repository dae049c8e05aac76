// The preference keys, their defaults and the launch-time seeding rule.
#pragma once

#include <array>
#include <string_view>
#include <utility>

namespace tovami {

class PreferenceStore;
class StartStopControl;

namespace prefs {
inline constexpr std::string_view kWakeRequirement = "wakeRequirement";  // "none" or "auth"
inline constexpr std::string_view kIslandEnabled = "islandEnabled";
inline constexpr std::string_view kIslandOnNonNotch = "islandOnNonNotch";
inline constexpr std::string_view kIslandOpenOnHover = "islandOpenOnHover";
inline constexpr std::string_view kIslandShowsCat = "islandShowsCat";
inline constexpr std::string_view kAgentWatchEnabled = "agentWatchEnabled";
inline constexpr std::string_view kAgentKeepAwake = "agentKeepAwake";
inline constexpr std::string_view kBatteryGuard = "batteryGuard";
inline constexpr std::string_view kAgentShowSnippets = "agentShowSnippets";
inline constexpr std::string_view kAgentOpensIsland = "agentOpensIsland";
inline constexpr std::string_view kAgentQuietSound = "agentQuietSound";
inline constexpr std::string_view kUsageTracking = "usageTracking";
inline constexpr std::string_view kNotchApprovals = "notchApprovals";
inline constexpr std::string_view kCodexApprovals = "codexApprovals";
inline constexpr std::string_view kHasCompletedOnboarding = "hasCompletedOnboarding";
// Other machines: ssh host names separated by commas; those of them whose approvals come here.
inline constexpr std::string_view kRemoteHosts = "remoteHosts";
inline constexpr std::string_view kRemoteApprovalHosts = "remoteApprovalHosts";
inline constexpr std::string_view kStatusLineFeed = "statusLineFeed";
inline constexpr std::string_view kPhonePushWhileAway = "phonePushWhileAway";

inline constexpr std::string_view kWakeNone = "none";
inline constexpr std::string_view kWakeAuth = "auth";

// Switches stored as true at launch when they have no value yet.
inline constexpr std::array<std::string_view, 6> kSeededTrue = {kAgentWatchEnabled, kAgentKeepAwake,
                                                                kAgentShowSnippets, kAgentOpensIsland,
                                                                kAgentQuietSound,   kUsageTracking};

// Every key the store knows, in the order of the table that defines them.
inline constexpr std::array<std::string_view, 19> kAllKeys = {
    kWakeRequirement,   kIslandEnabled,  kIslandOnNonNotch, kIslandOpenOnHover, kIslandShowsCat,
    kAgentWatchEnabled, kAgentKeepAwake, kBatteryGuard,     kAgentShowSnippets, kAgentOpensIsland,
    kAgentQuietSound,   kUsageTracking,  kNotchApprovals,   kCodexApprovals,    kHasCompletedOnboarding,
    kStatusLineFeed,    kPhonePushWhileAway, kRemoteHosts, kRemoteApprovalHosts};
// Keys that guard the user, with the value they take when the file that holds them cannot be
// read: an unreadable choice must not fall back to a weaker default.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 1> kFailClosed = {
    {{kWakeRequirement, kWakeAuth}}};
}  // namespace prefs

// Stores a value only for keys that have none, so a switch the user turned off stays off.
void seedPreferences(PreferenceStore& store, bool someDisplayHasCameraHousing);

// Stores a service's switch, reads it back and starts or stops the service to match (the store
// has the last word). `service` may be null when the service is not part of the build.
void applyServiceSwitch(PreferenceStore& store, std::string_view key, bool on, StartStopControl* service);

// Reads a boolean that views show with their own default while it is still absent.
bool boolOr(const PreferenceStore& store, std::string_view key, bool fallback);

// True when waking from a nap needs authentication. Fails closed: only an absent value or "none"
// wakes without it; any other value (a damaged or unknown one) is logged and counts as "auth".
bool wakeRequiresAuthentication(const PreferenceStore& store);

}  // namespace tovami
