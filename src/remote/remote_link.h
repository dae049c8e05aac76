// The desktop side of one host's link: when to start `ssh`, when to try again, and what to tell
// the user about it. The child process itself belongs to the backend, which reports to this.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/delayed_work.h"
#include "platform/processes.h"
#include "platform/scheduler.h"

namespace tovami::remote {

// The words for a link that ended, from ssh's exit status and the tail of its standard error.
// ssh exits 255 on its own errors; any other status is the remote command's (127: not found).
std::string linkFailureText(const std::string& host, int exitStatus, const std::string& stderrTail);

// The ssh arguments for a host (after the program name): BatchMode, a private control master under
// `controlFolder` (none when it is empty), keep-alives, and the command that starts the remote side.
std::vector<std::string> sshArguments(const std::string& host, const std::string& controlFolder);

// A host name the user typed is used only when ssh cannot take it for an option or a second word.
bool usableHostName(const std::string& host);

// The user's own interactive `ssh` to `host` in a terminal (the newest when several): a process named
// ssh with a terminal, `host` (or user@host) among its words, and not one of the links (BatchMode).
std::optional<int32_t> interactiveSshTo(const std::string& host, const std::vector<PSRow>& rows);

class RemoteLink {
 public:
  enum class Phase { stopped, connecting, connected, waiting };
  static constexpr Seconds kFirstRetry = 2, kMaxRetry = 60;
  static constexpr Seconds kHelloWithin = 30;   // ssh's own ConnectTimeout is shorter
  static constexpr Seconds kSteadyAfter = 60;   // a link up this long starts the back-off afresh

  struct Actions {
    std::function<void()> launch;     // start ssh; report with childEnded (maybe at once)
    std::function<void()> terminate;  // end the running ssh; childEnded follows
    std::function<void()> changed;    // phase or words changed
    std::function<void()> beat;       // tell the remote side the desktop is there (every 15 s)
  };

  RemoteLink(std::string host, Dispatcher& dispatcher, Actions actions);

  void start();
  void stop();
  // The remote side's hello arrived.
  void greeted();
  // Bytes came up: a connected link that hears nothing for kSilentAfter is ended.
  void heard();
  // ssh ended: its exit status (or -1 when it was killed by a signal) and the end of its standard
  // error; `reason` (the protocol's close reason) wins over both when not empty.
  void childEnded(int exitStatus, const std::string& stderrTail, const std::string& reason = {});
  // A resume or a network change: a waiting link tries again at once.
  void networkChanged();

  Phase phase() const { return phase_; }
  // "connected", "connecting…", or why the last try failed and when the next one is.
  std::string stateText() const;
  Seconds nextRetry() const { return retry_; }

 private:
  void connect();
  void watchSilence(Seconds after);
  void beatWhileConnected();

  std::string host_;
  Dispatcher& dispatcher_;
  Actions actions_;
  Phase phase_ = Phase::stopped;
  std::string failure_;
  std::string silence_;  // set when the hello did not come in time, or the link went silent
  Seconds retry_ = kFirstRetry;
  Seconds connectedAt_ = 0;
  Seconds heardAt_ = 0;
  bool ending_ = false;  // stop() asked the child to end
  DelayedWork timer_;
  DelayedWork beat_;
};

}  // namespace tovami::remote
