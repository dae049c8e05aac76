// "Install on <host>": copies the running entry to ~/.local/bin/tovami on the host over the link's
// own ssh connection, after asking the host what it is (remote/remote_install.h decides). One run;
// `done` reports once, with the words Settings shows (empty on success).
#pragma once

#include <functional>
#include <string>

class QProcess;

namespace tovami::linux_backend {

class RemoteInstaller {
 public:
  using Done = std::function<void(bool installed, const std::string& words)>;
  RemoteInstaller(std::string host, std::string controlFolder, Done done);
  ~RemoteInstaller();
  RemoteInstaller(const RemoteInstaller&) = delete;
  RemoteInstaller& operator=(const RemoteInstaller&) = delete;

  void start();
  bool running() const { return running_; }

  // The entry this desktop program was started through (its argv[0]), else the one beside it.
  static std::string entryPath();

 private:
  void run(const std::string& command, std::function<void(int status, const std::string& out, const std::string& err)> then);
  void finish(bool installed, const std::string& words);

  std::string host_, controlFolder_;
  Done done_;
  std::string entry_;  // the program's bytes while they are copied
  QProcess* process_ = nullptr;
  bool running_ = false;
};

}  // namespace tovami::linux_backend
