#include "peers/codex_peer.h"

namespace tovami::codex {

std::filesystem::path sessionsFolder(const std::filesystem::path& home,
                                     const std::optional<std::string>& codexHome) {
  if (codexHome && !codexHome->empty()) return std::filesystem::path(*codexHome) / kSessionsFolder;
  if (home.empty()) return {};
  return home / kDefaultHomeFolder / kSessionsFolder;
}

}  // namespace tovami::codex
