// What "Always" grants, in words. An agent's permission suggestions are what its own "don't ask
// again" would add: rules, folders, a change of permission mode, each for a scope. Tovami offers
// Always only for the suggestions it can put into words, shows those words, and hands back exactly
// those suggestions and nothing else.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tovami {

struct DescribedSuggestions {
  // The suggestions that were put into words, as a JSON array in the agent's own shape; empty
  // when none could be (then there is no Always).
  std::string json;
  // One phrase per suggestion kept, in order: "always allow `Bash(make test)` in this project, for
  // you", "allow work in /var/scratch for this session", "accept every edit for the rest of this
  // session".
  std::vector<std::string> phrases;
  // The short name of a permission mode the suggestions switch to ("accept edits"); empty when
  // they change no mode.
  std::string modeChange;

  bool empty() const { return phrases.empty(); }
  // The phrases as one sentence: "Always allow work in /var/scratch for this session, and accept
  // every edit for the rest of this session".
  std::string sentence() const;
  // The button's word: "Always", or "Allow + accept edits" where a mode changes with it, so no one
  // grants a mode thinking they granted one command.
  std::string buttonLabel() const;
  // The answer and what it grants on one line, for a menu row or a notification: the sentence where
  // it starts with "Always", else "Allow + accept edits: allow work in …".
  std::string answerText() const;
};

// Describes an agent's `permission_suggestions` array. Suggestions of a kind, scope or mode it does
// not know are left out; so is anything that is not an array of objects.
DescribedSuggestions describeSuggestions(const nlohmann::json& suggestions);

}  // namespace tovami
