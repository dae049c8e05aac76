#include "linux/app/journal_log_sink.h"

#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tovami::linux_backend {

JournalLogSink::JournalLogSink()
    : journal_(access("/run/systemd/journal/socket", W_OK) == 0),
      mirror_(std::getenv("TOVAMI_LOG_STDERR") && std::string(std::getenv("TOVAMI_LOG_STDERR")) == "1") {}

void JournalLogSink::write(LogLevel level, std::string_view category, std::string_view message) {
  const std::string cat(category);
  const std::string msg(message);
  bool sent = false;
  if (journal_) {
    sent = sd_journal_send("MESSAGE=%s", msg.c_str(), "PRIORITY=%d",
                           level == LogLevel::error ? LOG_ERR : LOG_INFO, "SYSLOG_IDENTIFIER=tovami",
                           "TOVAMI_SUBSYSTEM=%s", kLogSubsystem, "TOVAMI_CATEGORY=%s", cat.c_str(),
                           nullptr) >= 0;
  }
  if (!sent || mirror_) {
    std::lock_guard lock(stderrMutex_);
    std::fprintf(stderr, "tovami[%s] %s: %s\n", cat.c_str(), level == LogLevel::error ? "error" : "info",
                 msg.c_str());
  }
}

}  // namespace tovami::linux_backend
