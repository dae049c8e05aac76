// Log lines into the systemd journal, with the subsystem and category as fields
// (TOVAMI_SUBSYSTEM, TOVAMI_CATEGORY). Falls back to standard error where no journal runs,
// and mirrors to standard error when asked (TOVAMI_LOG_STDERR=1).
#pragma once

#include <mutex>

#include "platform/log.h"

namespace tovami::linux_backend {

class JournalLogSink final : public LogSink {
 public:
  JournalLogSink();
  void write(LogLevel level, std::string_view category, std::string_view message) override;
  bool usesJournal() const { return journal_; }

 private:
  bool journal_;
  bool mirror_;
  std::mutex stderrMutex_;
};

}  // namespace tovami::linux_backend
