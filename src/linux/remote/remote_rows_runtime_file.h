// The other machines' rows in Tovami's runtime folder (remote/remote_rows_file.h): who writes it,
// and the guarded read "--list-agents" makes.
#pragma once

#include <string>
#include <vector>

#include "agents/agent_session.h"
#include "remote/remote_rows_file.h"

namespace tovami::linux_backend {

// This process, as the file names its writer.
remote::RowsWriter thisRowsWriter();

// The rows the running desktop program wrote into `folder`. None when the file is missing, is not
// a regular file of this user that only they can read (a symbolic link is not followed), is past
// its bound or unreadable, or its writer is not running any more (a crashed program's file).
std::vector<AgentSession> readRemoteRows(const std::string& folder, Seconds now);

}  // namespace tovami::linux_backend
