// Log lines into the systemd journal, with the subsystem and category as fields
// (TOVAMI_SUBSYSTEM, TOVAMI_CATEGORY). Falls back to standard error where no journal runs,
// and mirrors to standard error when asked (TOVAMI_LOG_STDERR=1).
//
// The entries go straight to journald's native socket (one datagram per entry, the documented
// protocol libsystemd's sd_journal_send speaks): the program then needs no part of libsystemd.
#pragma once

#include <mutex>
#include <string>

#include "platform/log.h"

namespace tovami::linux_backend {

class JournalLogSink final : public LogSink {
 public:
  // `socketPath`: journald's native socket; another path serves the tests.
  explicit JournalLogSink(std::string socketPath = "/run/systemd/journal/socket");
  ~JournalLogSink() override;
  JournalLogSink(const JournalLogSink&) = delete;
  JournalLogSink& operator=(const JournalLogSink&) = delete;

  void write(LogLevel level, std::string_view category, std::string_view message) override;
  bool usesJournal() const { return socket_ >= 0; }

 private:
  bool send(const std::string& entry) const;

  std::string socketPath_;
  int socket_ = -1;  // -1: no journal
  bool mirror_;
  std::mutex stderrMutex_;
};

}  // namespace tovami::linux_backend
