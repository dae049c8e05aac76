#include "approvals/approval_suggestions.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "approvals/approval_request.h"

namespace tovami {
namespace {

using nlohmann::json;

// A rule or folder as shown: cleaned to one line and cut like any agent text.
constexpr std::size_t kItemLength = 120;
// A suggestion with more items than this is not one a person reads: left out.
constexpr std::size_t kMaxItems = 8;

std::optional<std::string> text(const json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// Where a rule, folder or mode is kept, as the end of a phrase.
std::optional<std::string_view> scopeOf(const json& suggestion, bool mode) {
  const auto destination = text(suggestion, "destination");
  if (!destination) return std::nullopt;
  if (*destination == "session") return mode ? "for the rest of this session" : "for this session";
  if (*destination == "localSettings")
    return mode ? "in this project from now on, for you" : "in this project, for you";
  if (*destination == "projectSettings") return mode ? "in this project from now on" : "in this project";
  if (*destination == "userSettings") return mode ? "in every project from now on" : "in every project";
  return std::nullopt;
}

// "Bash(make test)", "Read", or a Codex prefix rule as the command words it allows ("git status …").
std::optional<std::string> ruleText(const json& rule) {
  if (!rule.is_object()) return std::nullopt;
  if (const auto prefix = rule.find("prefixRule"); prefix != rule.end()) {
    std::string words;
    if (prefix->is_string()) words = prefix->get<std::string>();
    if (prefix->is_array()) {
      if (prefix->empty() || prefix->size() > 64) return std::nullopt;
      for (const auto& word : *prefix) {
        if (!word.is_string()) return std::nullopt;
        words += (words.empty() ? "" : " ") + word.get<std::string>();
      }
    }
    if (words.empty()) return std::nullopt;
    return approvalDisplayText(words + " \u2026", kItemLength);
  }
  const auto tool = text(rule, "toolName");
  if (!tool || tool->empty()) return std::nullopt;
  const auto content = text(rule, "ruleContent");
  if (rule.contains("ruleContent") && !content) return std::nullopt;
  return approvalDisplayText(content && !content->empty() ? *tool + "(" + *content + ")" : *tool,
                             kItemLength);
}

std::optional<std::string> listOf(const json& items, const auto& textOf) {
  if (!items.is_array() || items.empty() || items.size() > kMaxItems) return std::nullopt;
  std::string list;
  for (const auto& item : items) {
    const auto shown = textOf(item);
    if (!shown || shown->empty()) return std::nullopt;
    list += (list.empty() ? "" : ", ") + *shown;
  }
  return list;
}

std::optional<std::string> rulesPhrase(const json& suggestion) {
  const auto behavior = text(suggestion, "behavior");
  const char* verb = !behavior || *behavior == "allow" ? "always allow "
                     : *behavior == "deny"             ? "always deny "
                     : *behavior == "ask"              ? "always ask before "
                                                       : nullptr;
  const auto scope = scopeOf(suggestion, false);
  const auto rules = suggestion.find("rules");
  if (!verb || !scope || rules == suggestion.end()) return std::nullopt;
  const auto list = listOf(*rules, [](const json& rule) {
    auto shown = ruleText(rule);
    return shown ? std::optional<std::string>("`" + *shown + "`") : std::nullopt;
  });
  if (!list) return std::nullopt;
  return verb + *list + " " + std::string(*scope);
}

std::optional<std::string> foldersPhrase(const json& suggestion) {
  const auto scope = scopeOf(suggestion, false);
  const auto folders = suggestion.find("directories");
  if (!scope || folders == suggestion.end()) return std::nullopt;
  const auto list = listOf(*folders, [](const json& folder) {
    return folder.is_string()
               ? std::optional<std::string>(approvalDisplayText(folder.get<std::string>(), kItemLength))
               : std::nullopt;
  });
  if (!list) return std::nullopt;
  return "allow work in " + *list + " " + std::string(*scope);
}

struct ModeWords {
  std::string_view mode, phrase, shortName;
};
// The modes an agent suggests switching to; any other is left out.
constexpr ModeWords kModes[] = {
    {"acceptEdits", "accept every edit", "accept edits"},
    {"plan", "only plan, changing nothing", "plan only"},
    {"default", "ask again before each tool", "ask as usual"},
    {"bypassPermissions", "run every tool without asking", "skip every prompt"},
};

std::optional<std::pair<std::string, std::string>> modePhrase(const json& suggestion) {
  const auto mode = text(suggestion, "mode");
  const auto scope = scopeOf(suggestion, true);
  if (!mode || !scope) return std::nullopt;
  for (const auto& words : kModes)
    if (*mode == words.mode)
      return std::pair{std::string(words.phrase) + " " + std::string(*scope), std::string(words.shortName)};
  return std::nullopt;
}

}  // namespace

DescribedSuggestions describeSuggestions(const json& suggestions) {
  DescribedSuggestions described;
  if (!suggestions.is_array()) return described;
  json kept = json::array();
  for (const auto& suggestion : suggestions) {
    if (!suggestion.is_object()) continue;
    const auto type = text(suggestion, "type");
    if (!type) continue;
    std::optional<std::string> phrase;
    if (*type == "addRules") {
      phrase = rulesPhrase(suggestion);
    } else if (*type == "addDirectories") {
      phrase = foldersPhrase(suggestion);
    } else if (*type == "setMode") {
      // One mode change at most: two would leave the user guessing which one wins.
      if (auto mode = modePhrase(suggestion); mode && described.modeChange.empty()) {
        phrase = std::move(mode->first);
        described.modeChange = std::move(mode->second);
      }
    }
    if (!phrase) continue;
    described.phrases.push_back(std::move(*phrase));
    kept.push_back(suggestion);
  }
  if (!kept.empty()) described.json = kept.dump(-1, ' ', false, json::error_handler_t::replace);
  return described;
}

std::string DescribedSuggestions::sentence() const {
  std::string words;
  for (const auto& phrase : phrases) words += (words.empty() ? "" : ", and ") + phrase;
  if (!words.empty() && words[0] >= 'a' && words[0] <= 'z')
    words[0] = static_cast<char>(words[0] - 'a' + 'A');
  return words;
}

std::string DescribedSuggestions::answerText() const {
  std::string words = sentence();
  if (words.empty() || words.starts_with("Always ")) return words;
  words[0] = static_cast<char>(words[0] - 'A' + 'a');
  return buttonLabel() + ": " + words;
}

std::string DescribedSuggestions::buttonLabel() const {
  return modeChange.empty() ? "Always" : "Allow + " + modeChange;
}

}  // namespace tovami
