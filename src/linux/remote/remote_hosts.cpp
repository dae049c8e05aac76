#include "linux/remote/remote_hosts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <cerrno>
#include <cstdlib>
#include <set>

#include "platform/log.h"

namespace tovami::linux_backend {

struct RemoteHosts::Link {
  Link(RemoteHosts& owner, const std::string& name, Dispatcher& dispatcher)
      : host(name),
        stream(name),
        link(name, dispatcher,
             {[this, &owner] { owner.launch(*this); },
              [this] {
                if (process) process->kill();
              },
              [this] { logState(); }}) {}

  void logState() {
    const std::string text = link.stateText();
    if (text == shownState || text.empty()) return;
    shownState = text;
    if (link.phase() == remote::RemoteLink::Phase::waiting)
      logError(log_categories::kRemote, host + ": " + text);
    else
      logInfo(log_categories::kRemote, host + ": " + text);
  }

  std::string host;
  QProcess* process = nullptr;
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

RemoteHosts::RemoteHosts(Dispatcher& dispatcher, ShowRows showRows)
    : dispatcher_(dispatcher), showRows_(std::move(showRows)) {}

RemoteHosts::~RemoteHosts() {
  for (auto& [host, link] : links_) {
    link->link.stop();
    endProcess(link->process);
    endSharedConnection(host);
  }
}

std::vector<std::string> RemoteHosts::parseHostList(const std::string& text) {
  std::vector<std::string> hosts;
  size_t start = 0;
  while (start <= text.size()) {
    const auto end = std::min(text.find(',', start), text.size());
    std::string host = text.substr(start, end - start);
    const auto first = host.find_first_not_of(" \t\r\n");
    const auto last = host.find_last_not_of(" \t\r\n");
    host = first == std::string::npos ? std::string() : host.substr(first, last - first + 1);
    if (!host.empty() && std::find(hosts.begin(), hosts.end(), host) == hosts.end()) hosts.push_back(host);
    start = end + 1;
  }
  return hosts;
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

void RemoteHosts::setHosts(const std::vector<std::string>& hosts) {
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
    endProcess(it->second->process);
    endSharedConnection(it->first);
    ids_.forget(it->first);
    showRows_(it->first, {});
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
  endProcess(l.process);
  l.stream = remote::UpStream(l.host);
  l.stderrTail.clear();
  auto* process = new QProcess();
  l.process = process;
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
  if (events.helloNow) l.link.greeted();
  if (events.rowsChanged) publish(l);
  // Approval requests are not served yet: a remote side asks only where approvals are on.
}

void RemoteHosts::publish(Link& l) {
  std::vector<std::string> rowIds;
  auto rows = l.stream.rows().sessions(l.host, l.stream.clockOffset(), dispatcher_.clock().now(), &rowIds);
  ids_.number(l.host, rowIds, rows);
  showRows_(l.host, std::move(rows));
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
  showRows_(l.host, {});
  l.link.childEnded(exitStatus, tail, reason);
}

void RemoteHosts::networkChanged() {
  for (auto& [host, link] : links_) link->link.networkChanged();
}

std::string RemoteHosts::stateText(const std::string& host) const {
  const auto it = links_.find(host);
  return it == links_.end() ? std::string() : it->second->link.stateText();
}

}  // namespace tovami::linux_backend
