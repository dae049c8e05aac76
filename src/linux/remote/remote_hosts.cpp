#include "linux/remote/remote_hosts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <cerrno>
#include <cstdlib>
#include <set>

#include "agents/terminal_resolution.h"
#include "linux/agents/proc_sampler.h"
#include "linux/agents/x11_running_apps.h"
#include "linux/remote/network_watch.h"
#include "linux/remote/remote_installer.h"
#include "peers/json_bounds.h"
#include "platform/log.h"
#include "remote/remote_host_states.h"
#include "remote/remote_install.h"
#include "remote/remote_install_states.h"

namespace tovami::linux_backend {

// One ssh run's side of the link: a decision clicked after it ended goes nowhere, never to a request
// of the next run (whose ids start again).
struct RemoteHosts::Channel {
  QProcess* process = nullptr;  // null once the run ended
  std::map<int64_t, std::string> cards;  // remote request id -> card id
  std::function<void(int64_t)> settled;

  void send(const remote::DownMessage& message) {
    if (!process) return;
    const std::string line = remote::encode(message) + "\n";
    process->write(line.data(), qint64(line.size()));
  }
};

namespace {

// The card's answer, written down the link to that very request.
class RemoteReply final : public ConversationReply {
 public:
  RemoteReply(std::weak_ptr<RemoteHosts::Channel> channel, int64_t id) : channel_(std::move(channel)), id_(id) {}
  void send(std::string bytes) override {
    auto channel = channel_.lock();
    if (sent_ || !channel || !channel->process) return;
    sent_ = true;
    channel->cards.erase(id_);
    if (channel->settled) channel->settled(id_);
    nlohmann::json reply = bytes.empty() ? nlohmann::json::object() : json_bounds::parse(bytes);
    channel->send(remote::Decision{id_, reply.is_object() ? reply : nlohmann::json::object()});
  }

 private:
  std::weak_ptr<RemoteHosts::Channel> channel_;
  int64_t id_;
  bool sent_ = false;
};

}  // namespace

struct RemoteHosts::Link {
  Link(RemoteHosts& owner, const std::string& name, Dispatcher& dispatcher)
      : host(name),
        stream(name),
        link(name, dispatcher,
             {[this, &owner] { owner.launch(*this); },
              [this] {
                if (process) process->kill();
              },
              [this] { logState(); },
              [this] {
                if (channel) channel->send(remote::Alive{});
              }}) {}

  void logState() {
    const std::string text = link.stateText();
    if (text == shownState || text.empty()) return;
    shownState = text;
    remote::hostStates().set(host, text);
    // Words of an earlier install that failed are stale once the remote side answers.
    if (link.phase() == remote::RemoteLink::Phase::connected) remote::installStates().erase(host);
    if (link.phase() == remote::RemoteLink::Phase::waiting)
      logError(log_categories::kRemote, host + ": " + text);
    else
      logInfo(log_categories::kRemote, host + ": " + text);
  }

  std::string host;
  QProcess* process = nullptr;
  std::shared_ptr<Channel> channel;
  remote::UpStream stream;
  remote::RemoteLink link;
  std::string stderrTail;
  std::string shownState;
};

namespace {

constexpr size_t kStderrTail = 4096;

void endProcess(QProcess*& process) {
  if (!process) return;
  process->disconnect();
  process->kill();
  process->waitForFinished(1000);
  delete process;
  process = nullptr;
}

// A link ended for good: its shared connection goes too, rather than lingering for ControlPersist.
void endSharedConnection(const std::string& host) {
  const std::string folder = RemoteHosts::controlFolder();
  if (folder.empty()) return;
  QProcess::startDetached(QStringLiteral("ssh"), {QStringLiteral("-o"), QString::fromStdString("ControlPath=" + folder + "/%C"),
                                                  QStringLiteral("-O"), QStringLiteral("exit"), QStringLiteral("--"),
                                                  QString::fromStdString(host)});
}

}  // namespace

RemoteHosts::RemoteHosts(Dispatcher& dispatcher, RemoteHostsViews views)
    : dispatcher_(dispatcher), views_(std::move(views)) {
  remote::hostStates().connectNow = [this] { networkChanged(); };
  remote::installNow() = [this](const std::string& host) { install(host); };
  networkWatch_ = std::make_unique<NetworkWatch>([this] {
    logInfo(log_categories::kRemote, "resumed or back on the network: waiting links try again");
    networkChanged();
  });
}

RemoteHosts::~RemoteHosts() {
  remote::hostStates().connectNow = nullptr;
  remote::installNow() = nullptr;
  installers_.clear();
  for (auto& [host, link] : links_) {
    link->link.stop();
    if (link->channel) link->channel->process = nullptr;
    endProcess(link->process);
    endSharedConnection(host);
  }
}

std::vector<std::string> RemoteHosts::parseHostList(const std::string& text) {
  return remote::hostList(text);
}

std::string RemoteHosts::controlFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || runtime[0] != '/') return {};
  const std::string folder = std::string(runtime) + "/tovami-ssh";
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat info {};
  // Another user's folder, or one others may enter, would hand them the connection.
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid() ||
      (info.st_mode & 077) != 0)
    return {};
  return folder;
}

void RemoteHosts::setHosts(const std::vector<std::string>& hosts, const std::vector<std::string>& approvalHosts) {
  const std::set<std::string> approvals(approvalHosts.begin(), approvalHosts.end());
  for (auto& [host, link] : links_)
    if (link->channel && approvals.count(host) != approvalHosts_.count(host) && link->stream.greeted())
      link->channel->send(remote::Approvals{approvals.count(host) > 0});
  approvalHosts_ = approvals;
  std::set<std::string> wanted;
  for (const auto& host : hosts) {
    if (!remote::usableHostName(host)) {
      logError(log_categories::kRemote, "\"" + host + "\" is not an ssh host name; it is left out");
      continue;
    }
    if (wanted.size() == 32) break;
    wanted.insert(host);
  }
  for (auto it = links_.begin(); it != links_.end();) {
    if (wanted.count(it->first)) {
      ++it;
      continue;
    }
    it->second->link.stop();
    closeChannel(*it->second);
    endProcess(it->second->process);
    endSharedConnection(it->first);
    ids_.forget(it->first);
    views_.showRows(it->first, {});
    remote::hostStates().erase(it->first);
    remote::installStates().erase(it->first);
    installers_.erase(it->first);
    it = links_.erase(it);
  }
  for (const auto& host : wanted) {
    if (links_.count(host)) continue;
    auto link = std::make_unique<Link>(*this, host, dispatcher_);
    Link& l = *link;
    links_.emplace(host, std::move(link));
    l.link.start();
  }
}

void RemoteHosts::launch(Link& l) {
  closeChannel(l);
  endProcess(l.process);
  l.stream = remote::UpStream(l.host);
  l.stderrTail.clear();
  auto* process = new QProcess();
  l.process = process;
  l.channel = std::make_shared<Channel>();
  l.channel->process = process;
  l.channel->settled = [&l](int64_t id) { l.stream.settled(id); };
  QStringList arguments;
  for (const auto& argument : remote::sshArguments(l.host, controlFolder()))
    arguments << QString::fromStdString(argument);
  QObject::connect(process, &QProcess::readyReadStandardOutput, process, [this, &l] { received(l); });
  QObject::connect(process, &QProcess::readyReadStandardError, process, [&l] {
    const QByteArray bytes = l.process->readAllStandardError();
    l.stderrTail.append(bytes.constData(), size_t(bytes.size()));
    if (l.stderrTail.size() > kStderrTail) l.stderrTail.erase(0, l.stderrTail.size() - kStderrTail);
  });
  QObject::connect(process, &QProcess::finished, process, [this, &l](int code, QProcess::ExitStatus status) {
    ended(l, status == QProcess::CrashExit ? -1 : code);
  });
  QObject::connect(process, &QProcess::errorOccurred, process, [this, &l](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    l.stream = remote::UpStream(l.host);
    l.stderrTail = "ssh could not be started: " + l.process->errorString().toStdString();
    ended(l, 255);
  });
  process->start(QStringLiteral("ssh"), arguments);
}

void RemoteHosts::received(Link& l) {
  if (!l.process) return;
  const QByteArray bytes = l.process->readAllStandardOutput();
  if (l.stream.closed()) return;
  auto events = l.stream.feed(std::string_view(bytes.constData(), size_t(bytes.size())),
                              dispatcher_.clock().uptime(), dispatcher_.clock().now());
  if (l.stream.closed()) {
    l.process->kill();  // its end reports the reason
    return;
  }
  l.link.heard();
  if (events.helloNow) {
    l.link.greeted();
    if (approvalHosts_.count(l.host)) l.channel->send(remote::Approvals{true});
  }
  if (events.rowsChanged) publish(l);
  if (events.announced > 0 && views_.announce) views_.announce(l.host);
  if (!events.requests.empty() || !events.withdrawn.empty())
    takeRequests(l, std::move(events.requests), events.withdrawn);
}

void RemoteHosts::takeRequests(Link& l, std::vector<remote::Request> requests, const std::vector<int64_t>& withdrawn) {
  auto channel = l.channel;
  for (auto& request : requests) {
    auto reply = std::make_shared<RemoteReply>(channel, request.id);
    if (!approvalHosts_.count(l.host) || !views_.present) {
      reply->send({});  // approvals of this host are off: no verdict, at once
      continue;
    }
    const nlohmann::json object = {{"protocol", 1}, {"event", request.event}, {"payload", std::move(request.payload)}};
    if (auto card = views_.present(l.host, object, reply)) channel->cards[request.id] = *card;
  }
  for (const int64_t id : withdrawn) {
    const auto it = channel->cards.find(id);
    if (it == channel->cards.end()) continue;
    const std::string card = it->second;
    channel->cards.erase(it);
    if (views_.withdraw) views_.withdraw(card);
  }
}

void RemoteHosts::publish(Link& l) {
  std::vector<std::string> rowIds;
  auto rows = l.stream.rows().sessions(l.host, l.stream.clockOffset(), dispatcher_.clock().now(), &rowIds);
  ids_.number(l.host, rowIds, rows);
  views_.showRows(l.host, std::move(rows));
}

void RemoteHosts::ended(Link& l, int exitStatus) {
  const std::string reason = l.stream.closeReason();
  const std::string tail = l.stderrTail;
  if (l.process) {
    l.process->disconnect();
    l.process->deleteLater();
    l.process = nullptr;
  }
  l.stream = remote::UpStream(l.host);
  ids_.forget(l.host);
  views_.showRows(l.host, {});
  closeChannel(l);
  l.link.childEnded(exitStatus, tail, reason);
}

// The link dropped: the remote clients end without a verdict, and their cards go here.
void RemoteHosts::closeChannel(Link& l) {
  auto channel = std::exchange(l.channel, nullptr);
  if (!channel) return;
  channel->process = nullptr;
  const auto cards = std::exchange(channel->cards, {});
  for (const auto& [id, card] : cards)
    if (views_.withdraw) views_.withdraw(card);
}

void RemoteHosts::jump(int32_t number, const std::function<void(const AgentSession& ssh)>& raise) {
  const auto row = ids_.rowOf(number);
  if (!row) return;
  const auto& [host, rowId] = *row;
  auto rows = makeLinuxProcessSampler()->sampleProcesses();
  const auto ssh = rows ? remote::interactiveSshTo(host, *rows) : std::nullopt;
  if (!ssh) {
    logInfo(log_categories::kRemote, "jump: open a terminal on " + host + " first");
    return;
  }
  const ProcessTable table(*rows);
  X11RunningApplications apps;
  AgentSession session;
  session.pid = *ssh;
  session.agentName = "ssh";
  session.terminalTTY = table.byPid.at(*ssh).tty;
  if (const auto terminal = resolveTerminal(*ssh, table.byPid, apps)) {
    session.terminalName = terminal->terminalName;
    session.terminalPID = terminal->terminalPID;
  }
  logInfo(log_categories::kRemote, "jump: the terminal of ssh [" + std::to_string(*ssh) + "] to " + host);
  raise(session);
  if (const auto it = links_.find(host); it != links_.end() && it->second->channel)
    it->second->channel->send(remote::Jump{rowId});
}

void RemoteHosts::install(const std::string& host) {
  const auto link = links_.find(host);
  if (link == links_.end()) return;
  auto& installer = installers_[host];
  if (installer && installer->running()) return;
  remote::installStates().set(host, remote::install::installingText(host));
  installer = std::make_unique<RemoteInstaller>(host, controlFolder(), [this, host](bool installed, const std::string& words) {
    if (!installed) return remote::installStates().set(host, words);
    remote::installStates().erase(host);
    if (const auto it = links_.find(host); it != links_.end()) it->second->link.networkChanged();
  });
  installer->start();
}

void RemoteHosts::networkChanged() {
  for (auto& [host, link] : links_) link->link.networkChanged();
}

std::string RemoteHosts::stateText(const std::string& host) const {
  const auto it = links_.find(host);
  return it == links_.end() ? std::string() : it->second->link.stateText();
}

}  // namespace tovami::linux_backend
