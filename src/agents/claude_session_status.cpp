#include "agents/claude_session_status.h"

#include <charconv>
#include <fstream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "peers/json_bounds.h"

namespace tovami {
namespace {

namespace keys = claude_code::session_status_keys;

std::optional<std::string> stringAt(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<double> millisecondsAt(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_number()) return std::nullopt;
  return it->get<double>() / 1000.0;
}

// "procStart" is written as a decimal string; a number is accepted too.
std::optional<uint64_t> processStartIn(const nlohmann::json& object) {
  auto it = object.find(keys::kProcStart);
  if (it == object.end()) return std::nullopt;
  if (it->is_number_unsigned()) return it->get<uint64_t>();
  if (!it->is_string()) return std::nullopt;
  const auto& text = it->get_ref<const std::string&>();
  uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

ClaudeSessionStatus::State stateFrom(const std::optional<std::string>& word) {
  using State = ClaudeSessionStatus::State;
  if (!word) return State::unknown;
  if (*word == "idle") return State::idle;
  if (*word == "busy") return State::busy;
  if (*word == "waiting") return State::waiting;
  if (*word == "shell") return State::shell;
  return State::unknown;
}

}  // namespace

std::optional<ClaudeSessionStatus> parseClaudeSessionStatus(std::string_view text, int32_t pid,
                                                            std::optional<uint64_t> processStart) {
  if (text.size() > kSessionStatusMaxBytes) return std::nullopt;
  const auto object = json_bounds::parse(text);
  if (!object.is_object()) return std::nullopt;
  auto sessionId = stringAt(object, keys::kSessionId);
  if (!sessionId || sessionId->empty()) return std::nullopt;
  if (auto it = object.find(keys::kPid); it != object.end() && (!it->is_number_integer() || it->get<int64_t>() != pid))
    return std::nullopt;
  const auto written = processStartIn(object);
  if (written && processStart && *written != *processStart) return std::nullopt;
  if (object.contains(keys::kProcStart) && !written) return std::nullopt;

  ClaudeSessionStatus status;
  status.pid = pid;
  status.sessionId = std::move(*sessionId);
  status.cwd = stringAt(object, keys::kCwd);
  // A name derived from the folder is no name of its own: the row and the card show the folder once.
  if (stringAt(object, keys::kNameSource) != std::optional<std::string>("derived"))
    status.name = stringAt(object, keys::kName);
  const auto state = stringAt(object, keys::kStatus);
  status.state = stateFrom(state);
  if (status.state == ClaudeSessionStatus::State::waiting) status.waitingFor = stringAt(object, keys::kWaitingFor);
  status.updatedAt = millisecondsAt(object, keys::kStatusUpdatedAt);
  if (!status.updatedAt) status.updatedAt = millisecondsAt(object, keys::kUpdatedAt);
  return status;
}

ClaudeSessionStatusReader::ClaudeSessionStatusReader(claude_code::ClaudeCodeLocations locations)
    : locations_(std::move(locations)) {}

std::optional<ClaudeSessionStatus> ClaudeSessionStatusReader::read(int32_t pid,
                                                                   std::optional<uint64_t> processStart) {
  if (!locations_.isKnown()) return std::nullopt;
  const auto path = locations_.sessionStatusPath(pid);
  std::error_code error;
  const auto status = std::filesystem::symlink_status(path, error);
  const std::uintmax_t size = std::filesystem::is_regular_file(status) ? std::filesystem::file_size(path, error) : 0;
  const auto modified = std::filesystem::last_write_time(path, error);
  if (error || !std::filesystem::is_regular_file(status) || size > kSessionStatusMaxBytes) {
    cache_.erase(pid);
    return std::nullopt;
  }
  auto found = cache_.find(pid);
  if (found != cache_.end() && found->second.size == size && found->second.modified == modified &&
      found->second.processStart == processStart) {
    found->second.touched = true;
    return found->second.status;
  }
  // The file is regular (checked above, not a link), so opening it cannot block.
  std::ifstream in(path, std::ios::binary);
  std::string text(kSessionStatusMaxBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  Entry entry{size, modified, processStart, parseClaudeSessionStatus(text, pid, processStart), true};
  // A file caught halfway through a rewrite parses as nothing: do not cache that, try again next time.
  if (!entry.status) {
    cache_.erase(pid);
    return std::nullopt;
  }
  return cache_.insert_or_assign(pid, std::move(entry)).first->second.status;
}

void ClaudeSessionStatusReader::forgetUnread() {
  for (auto it = cache_.begin(); it != cache_.end();) {
    if (!it->second.touched) {
      it = cache_.erase(it);
    } else {
      it->second.touched = false;
      ++it;
    }
  }
}

}  // namespace tovami
