#include "linux/app/journal_log_sink.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tovami::linux_backend {
namespace {

// What journald takes in one datagram is capped by the socket's send buffer; a larger entry travels
// in a sealed memory file whose descriptor the datagram carries (as libsystemd does).
constexpr int kSendBuffer = 8 * 1024 * 1024;

// One field: NAME=value and a newline, or, for a value holding a newline, the name, a newline, the
// value's length as 64-bit little endian, the value and a newline.
void appendField(std::string& entry, std::string_view name, std::string_view value) {
  entry.append(name);
  if (value.find('\n') == std::string_view::npos) {
    entry.push_back('=');
  } else {
    entry.push_back('\n');
    uint64_t length = value.size();
    for (int i = 0; i < 8; ++i, length >>= 8) entry.push_back(char(length & 0xff));
  }
  entry.append(value);
  entry.push_back('\n');
}

sockaddr_un socketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), std::min(path.size(), sizeof address.sun_path - 1));
  return address;
}

int sealedCopy(const std::string& entry) {
  const int fd = ::memfd_create("journal-entry", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return -1;
  size_t written = 0;
  while (written < entry.size()) {
    const ssize_t n = ::write(fd, entry.data() + written, entry.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      return -1;
    }
    written += size_t(n);
  }
  if (::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) < 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

JournalLogSink::JournalLogSink(std::string socketPath)
    : socketPath_(std::move(socketPath)),
      mirror_(std::getenv("TOVAMI_LOG_STDERR") && std::string(std::getenv("TOVAMI_LOG_STDERR")) == "1") {
  if (socketPath_.size() >= sizeof(sockaddr_un::sun_path) || ::access(socketPath_.c_str(), W_OK) != 0) return;
  socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket_ < 0) return;
  // Refused or capped lower by the system: the larger entries go by memory file all the same.
  const int size = kSendBuffer;
  (void)::setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
}

JournalLogSink::~JournalLogSink() {
  if (socket_ >= 0) ::close(socket_);
}

bool JournalLogSink::send(const std::string& entry) const {
  sockaddr_un address = socketAddress(socketPath_);
  iovec data{const_cast<char*>(entry.data()), entry.size()};
  msghdr message{};
  message.msg_name = &address;
  message.msg_namelen = socklen_t(offsetof(sockaddr_un, sun_path) + socketPath_.size());
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  ssize_t sent;
  do sent = ::sendmsg(socket_, &message, MSG_NOSIGNAL);
  while (sent < 0 && errno == EINTR);
  if (sent >= 0) return true;
  if (errno != EMSGSIZE && errno != ENOBUFS) return false;

  const int fd = sealedCopy(entry);
  if (fd < 0) return false;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  message.msg_iov = nullptr;
  message.msg_iovlen = 0;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  do sent = ::sendmsg(socket_, &message, MSG_NOSIGNAL);
  while (sent < 0 && errno == EINTR);
  ::close(fd);
  return sent >= 0;
}

void JournalLogSink::write(LogLevel level, std::string_view category, std::string_view message) {
  bool sent = false;
  if (socket_ >= 0) {
    std::string entry;
    entry.reserve(message.size() + category.size() + 160);
    // The source location, as sd_journal_send gives it.
    appendField(entry, "CODE_FILE", __FILE__);
    appendField(entry, "CODE_LINE", std::to_string(__LINE__));
    appendField(entry, "CODE_FUNC", __func__);
    appendField(entry, "MESSAGE", message);
    appendField(entry, "PRIORITY", std::to_string(level == LogLevel::error ? LOG_ERR : LOG_INFO));
    appendField(entry, "SYSLOG_IDENTIFIER", "tovami");
    appendField(entry, "TOVAMI_SUBSYSTEM", kLogSubsystem);
    appendField(entry, "TOVAMI_CATEGORY", category);
    sent = send(entry);
  }
  if (!sent || mirror_) {
    std::lock_guard lock(stderrMutex_);
    std::fprintf(stderr, "tovami[%.*s] %s: %.*s\n", int(category.size()), category.data(),
                 level == LogLevel::error ? "error" : "info", int(message.size()), message.data());
  }
}

}  // namespace tovami::linux_backend
