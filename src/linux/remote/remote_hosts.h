// The desktop's links to other machines: one `ssh` child per host the user listed, running
// `tovami --remote-stream` there (docs/remote-protocol.md). What comes up is checked by the logic
// (src/remote) and only ever becomes rows; the link's state is logged and kept for Settings.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "agents/agent_session.h"
#include "platform/local_socket.h"
#include "platform/scheduler.h"
#include "remote/remote_link.h"
#include "remote/remote_protocol.h"

class QProcess;

namespace tovami::linux_backend {

class NetworkWatch;
class RemoteInstaller;

struct RemoteHostsViews {
  // Each host's rows (numbered by LocalRowIds); an empty list when its link ends.
  std::function<void(const std::string& host, std::vector<AgentSession> rows)> showRows;
  // A decision request of a host whose approvals are on (an approval-protocol object): its card's
  // id, or nothing when it is not shown (`reply` then had no verdict).
  std::function<std::optional<std::string>(const std::string& host, const nlohmann::json& object,
                                           std::shared_ptr<ConversationReply> reply)>
      present;
  std::function<void(const std::string& cardId)> withdraw;  // the request's client or link is gone
  std::function<void(const std::string& host)> announce;    // an agent there finished a long stretch
};

class RemoteHosts {
 public:
  struct Channel;
  RemoteHosts(Dispatcher& dispatcher, RemoteHostsViews views);
  ~RemoteHosts();

  // Links exactly these hosts (ssh names); names ssh could misread are refused in the log. Those
  // in `approvalHosts` send their approval requests here.
  void setHosts(const std::vector<std::string>& hosts, const std::vector<std::string>& approvalHosts = {});
  // A resume or network change: links that wait try again at once.
  void networkChanged();
  // A click on a remote row (its number from LocalRowIds): the local terminal that holds an
  // interactive ssh to its host comes forward (`raise`, as a session of that ssh), then the host
  // selects the agent's tmux pane. With no such terminal nothing moves, and the log says so.
  void jump(int32_t number, const std::function<void(const AgentSession& ssh)>& raise);
  std::string stateText(const std::string& host) const;

  // "a, b ,c" → {"a", "b", "c"}: the preference's hosts, blanks dropped, each once.
  static std::vector<std::string> parseHostList(const std::string& text);
  // $XDG_RUNTIME_DIR/tovami-ssh, made owner-only; empty when there is no private runtime folder.
  static std::string controlFolder();

 private:
  struct Link;
  void launch(Link& link);
  // The run's channel closes: a later decision goes nowhere; its cards are withdrawn.
  void closeChannel(Link& link);
  void takeRequests(Link& link, std::vector<remote::Request> requests, const std::vector<int64_t>& withdrawn);
  void received(Link& link);
  void ended(Link& link, int exitStatus);
  void publish(Link& link);
  // "Install on <host>" in Settings: copies this Tovami there, then connects at once.
  void install(const std::string& host);

  Dispatcher& dispatcher_;
  RemoteHostsViews views_;
  std::set<std::string> approvalHosts_;
  remote::LocalRowIds ids_;
  std::map<std::string, std::unique_ptr<Link>> links_;
  std::map<std::string, std::unique_ptr<RemoteInstaller>> installers_;
  std::unique_ptr<NetworkWatch> networkWatch_;  // resumes and network changes: try again at once
};

}  // namespace tovami::linux_backend
