#include "linux/remote/remote_installer.h"

#include <sys/utsname.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include "linux/files/regular_file.h"
#include "platform/log.h"
#include "remote/remote_install.h"
#include "remote/remote_install_needs.h"
#include "remote/remote_link.h"

namespace tovami::linux_backend {
namespace {

constexpr size_t kMaxEntry = 512u << 20;
constexpr size_t kStderrTail = 4096;
constexpr int kProbeWithinMs = 60'000, kCopyWithinMs = 600'000;

std::string localMachine() {
  struct utsname names {};
  return ::uname(&names) == 0 ? std::string(names.machine) : std::string();
}

}  // namespace

RemoteInstaller::RemoteInstaller(std::string host, std::string controlFolder, Done done)
    : host_(std::move(host)), controlFolder_(std::move(controlFolder)), done_(std::move(done)) {}

RemoteInstaller::~RemoteInstaller() {
  if (!process_) return;
  process_->disconnect();
  process_->kill();
  process_->waitForFinished(1000);
  delete process_;
}

std::string RemoteInstaller::entryPath() {
  const QString self = QCoreApplication::applicationFilePath();
  const QStringList arguments = QCoreApplication::arguments();
  if (!arguments.isEmpty() && arguments.first().startsWith('/')) {
    const QFileInfo given(arguments.first());
    if (given.isExecutable() && given.canonicalFilePath() != QFileInfo(self).canonicalFilePath())
      return given.canonicalFilePath().toStdString();
  }
  const QFileInfo beside(QFileInfo(self).absolutePath() + "/tovami");
  return beside.isExecutable() ? beside.canonicalFilePath().toStdString() : std::string();
}

void RemoteInstaller::start() {
  running_ = true;
  const std::string path = entryPath();
  std::string why;
  if (path.empty() || readRegularFile(path, kMaxEntry, entry_, why) != FileRead::read)
    return finish(false, "Tovami cannot read its own tovami program" + (why.empty() ? std::string() : ": " + why));
  const auto needed = remote::install::newestGlibcNeeded(entry_);
  if (!needed) return finish(false, "Tovami cannot read which C library " + path + " needs");
  logInfo(log_categories::kRemote, "install on " + host_ + ": asking what it is");
  run(remote::install::probeCommand(), [this, needed = *needed](int status, const std::string& out, const std::string& err) {
    if (status != 0) return finish(false, "Tovami could not ask " + host_ + ": " + remote::linkFailureText(host_, status, err));
    const auto facts = remote::install::parseProbe(out);
    if (!facts) return finish(false, "Tovami cannot tell what kind of machine " + host_ + " is");
    const auto verdict = remote::install::judge(host_, *facts, localMachine(), needed);
    if (!verdict.install) return finish(false, verdict.words);
    logInfo(log_categories::kRemote, "install on " + host_ + ": copying " + std::to_string(entry_.size()) +
                                         " bytes to " + facts->home + "/.local/bin/tovami");
    run(remote::install::copyCommand(), [this](int copyStatus, const std::string& said, const std::string& errors) {
      if (copyStatus == 0 && remote::install::copied(said, entry_.size())) return finish(true, {});
      finish(false, "Tovami could not be copied to " + host_ + ": " +
                        (copyStatus == 0 ? std::string("the host did not confirm the copy")
                                         : remote::linkFailureText(host_, copyStatus, errors)));
    });
  });
}

void RemoteInstaller::run(const std::string& command,
                          std::function<void(int status, const std::string& out, const std::string& err)> then) {
  auto arguments = remote::sshArguments(host_, controlFolder_);
  arguments.back() = command;  // the link's own options and shared connection, another command
  QStringList list;
  for (const auto& argument : arguments) list << QString::fromStdString(argument);
  if (process_) {  // the probe, which called this from its own end
    process_->disconnect();
    process_->deleteLater();
  }
  auto* process = new QProcess();
  process_ = process;
  auto out = std::make_shared<std::string>();
  auto err = std::make_shared<std::string>();
  auto overflow = std::make_shared<bool>(false);
  const bool copying = command == remote::install::copyCommand();
  QObject::connect(process, &QProcess::readyReadStandardOutput, process, [process, out, overflow] {
    const QByteArray bytes = process->readAllStandardOutput();
    if (out->size() + size_t(bytes.size()) > remote::install::kMaxOutput) {
      *overflow = true;
      process->kill();
      return;
    }
    out->append(bytes.constData(), size_t(bytes.size()));
  });
  QObject::connect(process, &QProcess::readyReadStandardError, process, [process, err] {
    const QByteArray bytes = process->readAllStandardError();
    err->append(bytes.constData(), size_t(bytes.size()));
    if (err->size() > kStderrTail) err->erase(0, err->size() - kStderrTail);
  });
  QObject::connect(process, &QProcess::finished, process,
                   [this, out, err, overflow, then](int code, QProcess::ExitStatus status) {
                     if (*overflow) return finish(false, host_ + " printed more than Tovami reads");
                     then(status == QProcess::CrashExit ? -1 : code, *out, *err);
                   });
  QObject::connect(process, &QProcess::errorOccurred, process, [this, process](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart)
      finish(false, "ssh could not be started: " + process->errorString().toStdString());
  });
  if (copying)
    QObject::connect(process, &QProcess::started, process, [this, process] {
      process->write(entry_.data(), qint64(entry_.size()));
      process->closeWriteChannel();
    });
  QTimer::singleShot(copying ? kCopyWithinMs : kProbeWithinMs, process, [process] { process->kill(); });
  process->start(QStringLiteral("ssh"), list);
  if (!copying) process->closeWriteChannel();
}

void RemoteInstaller::finish(bool installed, const std::string& words) {
  if (process_) {
    process_->disconnect();
    process_->deleteLater();
    process_ = nullptr;
  }
  entry_ = {};
  running_ = false;
  if (installed)
    logInfo(log_categories::kRemote, "install on " + host_ + ": Tovami is in ~/.local/bin");
  else
    logError(log_categories::kRemote, "install on " + host_ + ": " + words);
  if (done_) done_(installed, words);
}

}  // namespace tovami::linux_backend
