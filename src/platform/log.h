// Log lines go to the platform's log under the subsystem "app.tovami.Tovami", one category
// per area, at two levels. The backend installs a sink at start-up; before that (and in
// tests) lines go to standard error.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace tovami {

enum class LogLevel { info, error };

namespace log_categories {
inline constexpr const char* kApp = "app";
inline constexpr const char* kAgentWatch = "agentwatch";
inline constexpr const char* kPower = "power";
inline constexpr const char* kApprovals = "approvals";
inline constexpr const char* kHookInstall = "hook-install";
inline constexpr const char* kUsage = "usage";
inline constexpr const char* kNap = "nap";
inline constexpr const char* kRemote = "remote";
}  // namespace log_categories

inline constexpr const char* kLogSubsystem = "app.tovami.Tovami";

class LogSink {
 public:
  virtual ~LogSink() = default;
  // Called from any thread.
  virtual void write(LogLevel level, std::string_view category, std::string_view message) = 0;
};

// Replaces the process-wide sink; nullptr restores standard error.
void setLogSink(std::shared_ptr<LogSink> sink);

void logInfo(std::string_view category, std::string_view message);
void logError(std::string_view category, std::string_view message);

}  // namespace tovami
