// The desktop's links to other machines: one `ssh` child per host the user listed, running
// `tovami --remote-stream` there (docs/remote-protocol.md). What comes up is checked by the logic
// (src/remote) and only ever becomes rows; the link's state is logged and kept for Settings.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agents/agent_session.h"
#include "platform/scheduler.h"
#include "remote/remote_link.h"
#include "remote/remote_protocol.h"

class QProcess;

namespace tovami::linux_backend {

class RemoteHosts {
 public:
  using ShowRows = std::function<void(const std::string& host, std::vector<AgentSession> rows)>;

  // `showRows` receives each host's rows (numbered by LocalRowIds), an empty list when a link ends.
  RemoteHosts(Dispatcher& dispatcher, ShowRows showRows);
  ~RemoteHosts();

  // Links exactly these hosts (ssh names); names ssh could misread are refused in the log.
  void setHosts(const std::vector<std::string>& hosts);
  // A resume or network change: links that wait try again at once.
  void networkChanged();
  std::string stateText(const std::string& host) const;

  // "a, b ,c" → {"a", "b", "c"}: the preference's hosts, blanks dropped, each once.
  static std::vector<std::string> parseHostList(const std::string& text);
  // $XDG_RUNTIME_DIR/tovami-ssh, made owner-only; empty when there is no private runtime folder.
  static std::string controlFolder();

 private:
  struct Link;
  void launch(Link& link);
  void received(Link& link);
  void ended(Link& link, int exitStatus);
  void publish(Link& link);

  Dispatcher& dispatcher_;
  ShowRows showRows_;
  remote::LocalRowIds ids_;
  std::map<std::string, std::unique_ptr<Link>> links_;
};

}  // namespace tovami::linux_backend
