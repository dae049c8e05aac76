#include "peers/claude_code_peer.h"

#include <utf8proc.h>

#include <cstdlib>
#include <string>

namespace tovami::claude_code {

namespace {

bool isAsciiAlphanumeric(utf8proc_int32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string projectFolderName(std::string_view projectPath) {
  std::string name;
  name.reserve(projectPath.size());
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(projectPath.data());
  utf8proc_ssize_t remaining = static_cast<utf8proc_ssize_t>(projectPath.size());
  while (remaining > 0) {
    utf8proc_int32_t c = 0;
    utf8proc_ssize_t used = utf8proc_iterate(bytes, remaining, &c);
    if (used <= 0) {
      // Not UTF-8: the path reaches Claude Code as one replacement character.
      name.push_back('-');
      used = 1;
    } else if (isAsciiAlphanumeric(c)) {
      name.push_back(static_cast<char>(c));
    } else {
      name.append(c > 0xFFFF ? 2 : 1, '-');
    }
    bytes += used;
    remaining -= used;
  }
  return name;
}

std::optional<std::string> projectFolderPrefix(std::string_view folderName) {
  if (folderName.size() <= kProjectFolderNameLimit) return std::nullopt;
  std::string prefix(folderName.substr(0, kProjectFolderNameLimit));
  prefix.push_back('-');
  return prefix;
}

EnvironmentLookup processEnvironment() {
  return [](std::string_view name) -> std::optional<std::string> {
    const char* value = std::getenv(std::string(name).c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  };
}

ClaudeCodeLocations::ClaudeCodeLocations(std::filesystem::path home,
                                         std::optional<std::string> configDirVariable) {
  if (configDirVariable && !configDirVariable->empty()) {
    root_ = std::filesystem::path(*configDirVariable);
  } else if (!home.empty()) {
    root_ = home / ".claude";
  }
}

ClaudeCodeLocations ClaudeCodeLocations::fromEnvironment(const EnvironmentLookup& environment) {
  std::filesystem::path home;
  if (auto value = environment("HOME")) home = *value;
  return ClaudeCodeLocations(std::move(home), environment(kConfigDirVariable));
}

namespace {
std::filesystem::path under(const std::filesystem::path& root, const char* name) {
  return root.empty() ? std::filesystem::path() : root / name;
}
}  // namespace

std::filesystem::path ClaudeCodeLocations::settingsPath() const {
  return under(root_, "settings.json");
}

std::filesystem::path ClaudeCodeLocations::projectsFolder() const {
  return under(root_, "projects");
}

std::filesystem::path ClaudeCodeLocations::sessionStatusPath(long long pid) const {
  if (root_.empty()) return {};
  return root_ / "sessions" / (std::to_string(pid) + ".json");
}

std::filesystem::path ClaudeCodeLocations::credentialsPath() const {
  return under(root_, ".credentials.json");
}

}  // namespace tovami::claude_code
