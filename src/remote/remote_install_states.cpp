#include "remote/remote_install_states.h"

namespace tovami::remote {

HostStates& installStates() {
  static HostStates states;
  return states;
}

std::function<void(const std::string& host)>& installNow() {
  static std::function<void(const std::string& host)> action;
  return action;
}

}  // namespace tovami::remote
