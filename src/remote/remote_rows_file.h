// The runtime file through which "--list-agents" (a one-shot scan that reaches no link) lists the
// rows of other machines: the running desktop program writes each host's rows as its views got them,
// and the listing reads them back, bounded, tagged with their host as the views show them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "agents/agent_session.h"
#include "agents/session_details.h"
#include "platform/scheduler.h"

namespace tovami::remote {

inline constexpr const char* kRemoteRowsFile = "remote-rows.json";
// 64 hosts of 64 rows fit many times over; a larger file is not read.
inline constexpr std::size_t kMaxRemoteRowsFileBytes = 8u << 20;
inline constexpr std::size_t kMaxRemoteRowsHosts = 64;

// The program that wrote the file: a file whose writer is no longer running is stale. The start
// time (in the kernel's clock ticks since boot) tells a reused pid from the writer.
struct RowsWriter {
  int32_t pid = 0;
  uint64_t startTicks = 0;
  bool operator==(const RowsWriter&) const = default;
};

// The desktop side: each host's rows as last shown. Main thread.
class RemoteRowsSnapshot {
 public:
  // A host's rows as the views got them (tagged, under local numbers); none drops the host. False
  // when the file would not change (a row's age is not written: its start is).
  bool show(const std::string& host, const std::vector<AgentSession>& rows);
  bool empty() const { return hosts_.empty(); }
  std::string serialized(const RowsWriter& writer) const;

 private:
  std::map<std::string, nlohmann::json> hosts_;  // each host's rows as the protocol's row fields
};

struct RemoteRows {
  RowsWriter writer;
  std::vector<AgentSession> rows;  // hosts by name, each host's rows oldest first
};

// The file read back: rows as the desktop shows them ("devbox · api", `host` set), their pid the
// agent's pid on its host. Nothing for text past a bound, not of this form, or with a row the
// remote protocol would refuse.
std::optional<RemoteRows> parseRemoteRows(std::string_view text, Seconds now);

// What "--list-agents" lists: this machine's agents, each bound to its status line's feed, then the
// other machines' rows. Those are never bound to a feed here: their pids and session ids name
// nothing on this machine.
std::vector<AgentSession> listedAgents(std::vector<AgentSession> local, const StatusLineSessions& feeds,
                                       std::vector<AgentSession> remote);

}  // namespace tovami::remote
