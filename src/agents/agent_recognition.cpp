#include "agents/agent_recognition.h"

#include <algorithm>
#include <vector>

namespace tovami {
namespace {

std::vector<std::string_view> splitAtSpaces(std::string_view text) {
  std::vector<std::string_view> pieces;
  while (!text.empty()) {
    const size_t space = text.find(' ');
    if (space != 0) pieces.push_back(text.substr(0, space));
    if (space == std::string_view::npos) break;
    text.remove_prefix(space + 1);
  }
  return pieces;
}

// Last path component, lower-cased, in a buffer of the caller's (every row of every scan comes
// here: no allocation). Native installs started by path may carry an ".exe" suffix
// (".../bin/claude.exe"); that suffix is not part of the name. A component longer than the buffer
// is no name of ours and reads as "".
using KeyBuffer = std::array<char, 32>;
std::string_view executableKey(std::string_view piece, KeyBuffer& buffer) {
  while (piece.size() > 1 && piece.back() == '/') piece.remove_suffix(1);
  if (const size_t slash = piece.rfind('/'); slash != std::string_view::npos && piece.size() > 1)
    piece.remove_prefix(slash + 1);
  if (piece.size() > buffer.size()) return {};
  std::transform(piece.begin(), piece.end(), buffer.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  std::string_view key(buffer.data(), piece.size());
  if (key.size() > 4 && key.ends_with(".exe")) key.remove_suffix(4);
  return key;
}

bool isEditorExtensionCopy(std::string_view piece) {
  return std::any_of(
      kExcludedAgentPathFragments.begin(), kExcludedAgentPathFragments.end(),
      [&](std::string_view fragment) { return piece.find(fragment) != std::string_view::npos; });
}

// The agent's name, or "" when the key names none.
std::string_view agentNameForKey(std::string_view key) {
  for (const auto& row : kAgentExecutables)
    if (key == row.executable) return row.agentName;
  return {};
}

std::string_view agentNameFor(std::string_view piece) {
  KeyBuffer buffer;
  return isEditorExtensionCopy(piece) ? std::string_view() : agentNameForKey(executableKey(piece, buffer));
}

bool isInterpreterKey(std::string_view key) {
  return std::any_of(kAgentInterpreters.begin(), kAgentInterpreters.end(),
                     [&](std::string_view name) { return key == name; });
}

bool isBackgroundWorkerArgument(std::string_view piece) {
  return piece == "daemon" || piece.starts_with("bg-") || piece.starts_with("--bg");
}

}  // namespace

std::optional<std::string> recognizeAgent(std::string_view args) {
  return recognizeAgent(splitAtSpaces(args));
}

std::optional<std::string> recognizeAgent(std::span<const std::string_view> pieces) {
  if (pieces.empty() || isEditorExtensionCopy(pieces[0])) return std::nullopt;

  KeyBuffer buffer;
  const std::string_view key = executableKey(pieces[0], buffer);
  std::string_view name = agentNameForKey(key);
  size_t next = 1;
  if (name.empty()) {
    if (pieces.size() < 2 || !isInterpreterKey(key)) return std::nullopt;
    name = agentNameFor(pieces[1]);
    next = 2;
    if (name.empty()) return std::nullopt;
  }
  if (next < pieces.size() && isBackgroundWorkerArgument(pieces[next])) return std::nullopt;
  return std::string(name);
}

bool isOrphanedAgentHelper(const PSRow& row, const PSRow* parent) {
  if (row.tty) return false;
  // Orphans go to pid 1, or on a desktop session to the user's service manager, which adopts
  // them as the nearest subreaper.
  const auto parentPieces = parent ? splitAtSpaces(parent->args) : std::vector<std::string_view>{};
  KeyBuffer buffer;
  const bool adopted =
      row.ppid < 2 || (!parentPieces.empty() && executableKey(parentPieces[0], buffer) == "systemd");
  if (!adopted) return false;
  const auto pieces = splitAtSpaces(row.args);
  if (pieces.empty() || isEditorExtensionCopy(pieces[0])) return false;
  size_t next = 1;
  if (agentNameFor(pieces[0]).empty()) {
    if (pieces.size() < 2 || !isInterpreterKey(executableKey(pieces[0], buffer)) ||
        agentNameFor(pieces[1]).empty())
      return false;
    next = 2;
  }
  return next < pieces.size() && (pieces[next] == "serve" || pieces[next].ends_with("server"));
}

}  // namespace tovami
