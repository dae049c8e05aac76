#include "peers/gemini_peer.h"

#include <nlohmann/json.hpp>

#include "peers/json_bounds.h"

namespace tovami::gemini {

std::optional<std::string> registeredProjectId(std::string_view projectsJson,
                                               const std::string& projectPath) {
  const auto document = json_bounds::parse(projectsJson);
  if (!document.is_object()) return std::nullopt;
  const auto projects = document.find(kProjectsKey);
  if (projects == document.end() || !projects->is_object()) return std::nullopt;
  const auto entry = projects->find(projectPath);
  if (entry == projects->end() || !entry->is_string()) return std::nullopt;
  const auto& id = entry->get_ref<const std::string&>();
  // The id becomes a folder name: nothing that could leave the temporary folder.
  if (id.empty() || id == "." || id == ".." || id.find('/') != std::string::npos ||
      id.find('\0') != std::string::npos)
    return std::nullopt;
  return id;
}

}  // namespace tovami::gemini
