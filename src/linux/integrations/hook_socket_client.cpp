#include "linux/integrations/hook_socket_client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace tovami::linux_backend {
namespace {

using Clock = std::chrono::steady_clock;

// The ms left until `deadline` (0 once passed).
int msLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

// Waits for `events` on fd until the deadline; false when it passed or the poll failed.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  pollfd p{fd, events, 0};
  while (true) {
    const int ready = ::poll(&p, 1, msLeft(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

struct Socket {
  int fd = -1;
  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
};

// Why the socket at `path`, connected on `fd`, is not this user's to trust; nothing when it is.
std::optional<std::string> strangerAt(const std::string& path, int fd) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return "the approval socket " + path + " cannot be inspected";
  if (!S_ISSOCK(info.st_mode)) return "the approval socket " + path + " is not a socket";
  if (info.st_uid != ::geteuid())
    return "the approval socket " + path + " belongs to another user (uid " + std::to_string(info.st_uid) +
           ")";
  struct ucred credentials {};
  socklen_t size = sizeof credentials;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
    return "the server at " + path + " cannot be identified";
  if (credentials.uid != ::geteuid())
    return "the server at " + path + " runs as another user (uid " + std::to_string(credentials.uid) + ")";
  return std::nullopt;
}

constexpr std::size_t kReplyLimit = 1 << 20;
constexpr double kSendSeconds = 2.0;

}  // namespace

std::optional<std::string> exchangeWithSocket(const std::string& path, std::string_view request,
                                              double waitSeconds, std::string* refusal, double silenceSeconds) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  Socket socket{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
  if (socket.fd < 0) return std::nullopt;
  // A unix socket connects at once or not at all (EAGAIN: the server's backlog is full).
  if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return std::nullopt;
  // Checked on the connection itself, before a byte goes: the file's owner, then the server's.
  if (auto stranger = strangerAt(path, socket.fd)) {
    if (refusal) *refusal = std::move(*stranger);
    return std::nullopt;
  }
  const auto sendDeadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kSendSeconds));
  for (std::size_t sent = 0; sent < request.size();) {
    const ssize_t put = ::send(socket.fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (put > 0) {
      sent += static_cast<std::size_t>(put);
    } else if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (!waitFor(socket.fd, POLLOUT, sendDeadline)) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (waitSeconds <= 0) return std::string();
  // Our side stays open while we wait: closing it tells the server the request is withdrawn.
  const auto after = [](double seconds) {
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  };
  const auto deadline = after(waitSeconds);
  auto heard = after(silenceSeconds);  // a server that stopped (SIGSTOP, a suspended host) says nothing
  std::string reply;
  char buffer[4096];
  while (true) {
    const ssize_t got = ::recv(socket.fd, buffer, sizeof buffer, 0);
    if (got == 0) return reply;  // the server ended the stream: the reply is whole
    if (got > 0) {
      reply.append(buffer, static_cast<std::size_t>(got));
      if (reply.size() > kReplyLimit) return std::nullopt;
      heard = after(silenceSeconds);
      continue;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return std::nullopt;
    if (!waitFor(socket.fd, POLLIN, std::min(deadline, heard))) return std::nullopt;
  }
}

bool sendWithoutWaiting(const std::string& path, std::string_view message) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  Socket socket{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
  if (socket.fd < 0 || ::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return false;
  if (strangerAt(path, socket.fd)) return false;
  // One send: a message this small fits an idle socket's buffer; a busy server loses this one.
  const ssize_t put = ::send(socket.fd, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  return put == static_cast<ssize_t>(message.size());
}

std::optional<std::string> readInputWithin(int fd, std::size_t limit, double waitSeconds) {
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(waitSeconds));
  std::string input;
  // On the heap and never cleared: only the pages a read fills are touched (64 KiB of stack would
  // cost the start a few page faults of its own).
  constexpr std::size_t kPiece = 65536;
  const auto buffer = std::make_unique_for_overwrite<char[]>(kPiece);
  while (true) {
    if (!waitFor(fd, POLLIN, deadline)) return std::nullopt;
    const ssize_t got = ::read(fd, buffer.get(), kPiece);
    if (got == 0) return input;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return std::nullopt;
    }
    input.append(buffer.get(), static_cast<std::size_t>(got));
    if (input.size() > limit) return std::nullopt;
  }
}

}  // namespace tovami::linux_backend
