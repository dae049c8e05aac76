// Between Settings and the backend's installer: each host's install words ("installing…", or why
// it cannot), and the action that starts one. Main thread.
#pragma once

#include <functional>
#include <string>

#include "remote/remote_host_states.h"

namespace tovami::remote {

// Empty for a host with no install started.
HostStates& installStates();
// Set by the backend while its links run: copies this Tovami to the host, then connects.
std::function<void(const std::string& host)>& installNow();

}  // namespace tovami::remote
