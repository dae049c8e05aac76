#include "app/command_line.h"

#include <algorithm>

namespace tovami {

std::optional<OneShotRequest> findOneShotSwitch(const std::vector<std::string>& arguments) {
  for (auto name : kOneShotSwitches) {
    for (size_t i = 0; i + 1 < arguments.size(); ++i)
      if (arguments[i] == name) return OneShotRequest{std::string(name), arguments[i + 1]};
  }
  return std::nullopt;
}

bool wantsShowTour(const std::vector<std::string>& arguments) {
  return std::find(arguments.begin(), arguments.end(), switches::kShowTour) != arguments.end();
}

}  // namespace tovami
