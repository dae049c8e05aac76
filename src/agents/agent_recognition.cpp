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

// Last path component, lower-cased. Native installs started by path may carry an ".exe" suffix
// (".../bin/claude.exe"); that suffix is not part of the name.
std::string executableKey(std::string_view piece) {
  while (piece.size() > 1 && piece.back() == '/') piece.remove_suffix(1);
  if (const size_t slash = piece.rfind('/'); slash != std::string_view::npos && piece.size() > 1)
    piece.remove_prefix(slash + 1);
  std::string key(piece);
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  if (key.size() > 4 && key.ends_with(".exe")) key.resize(key.size() - 4);
  return key;
}

bool isEditorExtensionCopy(std::string_view piece) {
  return std::any_of(kExcludedAgentPathFragments.begin(), kExcludedAgentPathFragments.end(),
                     [&](const char* fragment) { return piece.find(fragment) != std::string_view::npos; });
}

const char* agentNameFor(std::string_view piece) {
  if (isEditorExtensionCopy(piece)) return nullptr;
  const std::string key = executableKey(piece);
  for (const auto& row : kAgentExecutables)
    if (key == row.executable) return row.agentName;
  return nullptr;
}

bool isInterpreter(std::string_view piece) {
  const std::string key = executableKey(piece);
  return std::any_of(kAgentInterpreters.begin(), kAgentInterpreters.end(),
                     [&](const char* name) { return key == name; });
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

  const char* name = agentNameFor(pieces[0]);
  size_t next = 1;
  if (!name) {
    if (pieces.size() < 2 || !isInterpreter(pieces[0])) return std::nullopt;
    name = agentNameFor(pieces[1]);
    next = 2;
    if (!name) return std::nullopt;
  }
  if (next < pieces.size() && isBackgroundWorkerArgument(pieces[next])) return std::nullopt;
  return std::string(name);
}

bool isOrphanedAgentHelper(const PSRow& row, const PSRow* parent) {
  if (row.tty) return false;
  // Orphans go to pid 1, or on a desktop session to the user's service manager, which adopts
  // them as the nearest subreaper.
  const auto parentPieces = parent ? splitAtSpaces(parent->args) : std::vector<std::string_view>{};
  const bool adopted = row.ppid < 2 || (!parentPieces.empty() && executableKey(parentPieces[0]) == "systemd");
  if (!adopted) return false;
  const auto pieces = splitAtSpaces(row.args);
  if (pieces.empty() || isEditorExtensionCopy(pieces[0])) return false;
  size_t next = 1;
  if (!agentNameFor(pieces[0])) {
    if (pieces.size() < 2 || !isInterpreter(pieces[0]) || !agentNameFor(pieces[1])) return false;
    next = 2;
  }
  return next < pieces.size() && (pieces[next] == "serve" || pieces[next].ends_with("server"));
}

}  // namespace tovami
