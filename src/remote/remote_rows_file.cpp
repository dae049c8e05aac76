#include "remote/remote_rows_file.h"

#include <climits>
#include <iterator>

#include "peers/json_bounds.h"
#include "remote/remote_link.h"
#include "remote/remote_protocol.h"

namespace tovami::remote {
namespace {

using nlohmann::json;

// The views' "devbox · api" back to the host's own "api".
std::string untagged(const std::string& host, const std::string& name) {
  const std::string tag = host + " \u00b7 ";
  return name.starts_with(tag) ? name.substr(tag.size()) : name;
}

}  // namespace

bool RemoteRowsSnapshot::show(const std::string& host, const std::vector<AgentSession>& rows) {
  if (rows.empty()) return hosts_.erase(host) > 0;
  json list = json::array();
  for (AgentSession row : rows) {
    row.pid = row.hostPid.value_or(row.pid);
    row.projectName = untagged(host, row.projectName);
    if (row.sessionName) row.sessionName = untagged(host, *row.sessionName);
    list.push_back(rowFields(row));
  }
  auto [it, added] = hosts_.try_emplace(host, list);
  if (!added && it->second == list) return false;
  it->second = std::move(list);
  return true;
}

std::string RemoteRowsSnapshot::serialized(const RowsWriter& writer) const {
  const json file = {{"writer", {{"pid", writer.pid}, {"start", writer.startTicks}}}, {"hosts", hosts_}};
  return file.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<RemoteRows> parseRemoteRows(std::string_view text, Seconds now) {
  if (text.size() > kMaxRemoteRowsFileBytes) return std::nullopt;
  const json file = json_bounds::parse(text);
  if (!file.is_object()) return std::nullopt;
  const auto writer = file.find("writer");
  const auto hosts = file.find("hosts");
  if (writer == file.end() || !writer->is_object() || hosts == file.end() || !hosts->is_object() ||
      hosts->size() > kMaxRemoteRowsHosts)
    return std::nullopt;
  const auto pid = writer->find("pid");
  const auto start = writer->find("start");
  if (pid == writer->end() || !pid->is_number_integer() || pid->get<int64_t>() <= 0 ||
      pid->get<int64_t>() > INT32_MAX || start == writer->end() || !start->is_number_unsigned())
    return std::nullopt;
  RemoteRows out;
  out.writer = {int32_t(pid->get<int64_t>()), start->get<uint64_t>()};
  for (const auto& [host, rows] : hosts->items()) {
    if (!usableHostName(host) || !rows.is_array() || rows.size() > kMaxRows) return std::nullopt;
    RowTable table;  // the remote protocol's own bounds and types
    for (size_t i = 0; i < rows.size(); ++i) {
      std::string error;
      if (!rows[i].is_object() || !table.apply(RowDelta{std::to_string(i), rows[i]}, error)) return std::nullopt;
    }
    auto sessions = table.sessions(host, 0, now);
    out.rows.insert(out.rows.end(), std::make_move_iterator(sessions.begin()), std::make_move_iterator(sessions.end()));
  }
  return out;
}

std::vector<AgentSession> listedAgents(std::vector<AgentSession> local, const StatusLineSessions& feeds,
                                       std::vector<AgentSession> remote) {
  feeds.bind(local);
  local.insert(local.end(), std::make_move_iterator(remote.begin()), std::make_move_iterator(remote.end()));
  return local;
}

}  // namespace tovami::remote
