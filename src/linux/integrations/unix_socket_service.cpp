#include "linux/integrations/unix_socket_service.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace tovami::linux_backend {
namespace {

using Clock = std::chrono::steady_clock;

std::string systemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Fd() { reset(); }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

std::optional<uid_t> peerUid(int fd) {
  // SO_PEERCRED on Linux; macOS has getpeereid() for the same answer.
  struct ucred credentials {};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return std::nullopt;
  return credentials.uid;
}

bool fillAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

std::string uidText(uid_t uid) {
  return "uid " + std::to_string(uid);
}

// The folder must be ours and closed to everyone else; a missing one is made. One that others could
// write to may already hold their socket or link: refused, not repaired, so the user looks.
std::optional<std::string> prepareFolder(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder.parent_path(), error);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return systemError("cannot create the socket folder");
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) return systemError("cannot inspect the socket folder");
  if (!S_ISDIR(info.st_mode)) return "the socket folder " + folder.string() + " is not a folder";
  if (info.st_uid != ::geteuid())
    return "the socket folder " + folder.string() + " belongs to another user (" + uidText(info.st_uid) + ")";
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return "the socket folder " + folder.string() + " is writable by other users (mode " + mode +
           "); check what is in it, then make it yours only: chmod 700 " + folder.string();
  }
  if ((info.st_mode & 0777) != 0700 && ::chmod(folder.c_str(), 0700) != 0)
    return systemError("cannot close the socket folder to other users");
  return std::nullopt;
}

// The user a live server at the path runs as; nothing when no one accepts connections there. A server
// that cannot be identified counts as a stranger (uid -1).
std::optional<uid_t> listenerUid(const sockaddr_un& address) {
  Fd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (probe.get() < 0) return std::nullopt;
  if (::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return std::nullopt;
  return peerUid(probe.get()).value_or(static_cast<uid_t>(-1));
}

struct ListenLoop;

// The reply handle of one connection: queues the bytes for the loop and wakes it.
class LoopReply final : public ConversationReply {
 public:
  LoopReply(std::weak_ptr<ListenLoop> loop, uint64_t connection)
      : loop_(std::move(loop)), connection_(connection) {}
  void send(std::string bytes) override;
  void keepAlive() override;

 private:
  std::weak_ptr<ListenLoop> loop_;
  uint64_t connection_;
  std::atomic<bool> sent_{false};
};

// The poll loop and everything it reads. The thread holds it too, so that a listener let go from
// inside a conversation (the thread itself) can detach without pulling the loop from under it.
struct ListenLoop : std::enable_shared_from_this<ListenLoop> {
  struct Connection {
    uint64_t id = 0;
    Fd fd;
    std::unique_ptr<StreamConversation> conversation;
    Clock::time_point deadline;
    bool awaiting = false;  // read in full; waits for its reply
    bool writing = false;   // the reply is queued in `output`
    std::string output;
  };

  void run() {
    std::vector<Connection> connections;
    std::vector<char> piece(options_.pieceSize > 0 ? options_.pieceSize : 65536);
    std::vector<pollfd> polled;
    while (true) {
      polled.clear();
      polled.push_back({wakeRead_.get(), POLLIN, 0});
      polled.push_back({socket_.get(), POLLIN, 0});
      polled.push_back({replyRead_.get(), POLLIN, 0});
      for (auto& connection : connections)
        polled.push_back({connection.fd.get(), static_cast<short>(connection.writing ? POLLOUT : POLLIN), 0});
      int timeout = -1;
      const auto now = Clock::now();
      for (auto& connection : connections) {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(connection.deadline - now).count() + 1;
        if (left < 0) left = 0;
        if (timeout < 0 || left < timeout) timeout = static_cast<int>(left);
      }
      if (::poll(polled.data(), polled.size(), timeout) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (polled[0].revents) break;  // asked to stop
      if (polled[2].revents) takeReplies(connections);
      // Connections next (their slots in `polled` follow the order of `connections` at the poll;
      // replies taken above only change fields, never the order).
      const size_t polledCount = polled.size() - 3;
      std::vector<bool> finished(connections.size(), false);
      for (size_t i = 0; i < connections.size(); ++i) {
        auto& connection = connections[i];
        if (connection.writing) {
          finished[i] = write(connection);
        } else if (i < polledCount && polled[i + 3].revents) {
          finished[i] = connection.awaiting ? peerLeft(connection, piece) : serve(connection, piece);
        }
        if (!finished[i] && Clock::now() >= connection.deadline) {
          if (connection.awaiting && !connection.writing) {
            --awaitingCount_;  // its room goes back with it
            connection.conversation->ended();
          }
          finished[i] = true;
        }
      }
      for (size_t i = connections.size(); i-- > 0;)
        if (finished[i]) connections.erase(connections.begin() + static_cast<long>(i));
      if (polled[1].revents & POLLIN) accept(connections, piece);
    }
    for (auto& connection : connections)
      if (connection.awaiting && !connection.writing) connection.conversation->ended();
  }

  // Reads what is there; true when the connection is done.
  bool serve(Connection& connection, std::vector<char>& piece) {
    const ssize_t got = ::recv(connection.fd.get(), piece.data(), piece.size(), MSG_DONTWAIT);
    if (got < 0) return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    if (got == 0) return true;  // the peer finished without a whole message
    switch (connection.conversation->received(std::string_view(piece.data(), static_cast<size_t>(got)))) {
      case StreamConversation::Next::more:
        return false;
      case StreamConversation::Next::close:
        ::shutdown(connection.fd.get(), SHUT_WR);  // the empty reply: end of stream, not a byte
        return true;
      case StreamConversation::Next::awaitReply:
        break;
    }
    if (awaitingCount_ >= options_.maxAwaiting) {  // no room to wait: no verdict, at once
      connection.conversation->ended();
      ::shutdown(connection.fd.get(), SHUT_WR);
      return true;
    }
    ++awaitingCount_;
    connection.awaiting = true;
    connection.deadline = Clock::now() + lifetime(options_.awaitLifetime);
    return false;
  }

  // A waiting peer may only leave: anything it writes is dropped, its end of stream ends the wait.
  bool peerLeft(Connection& connection, std::vector<char>& piece) {
    const ssize_t got = ::recv(connection.fd.get(), piece.data(), piece.size(), MSG_DONTWAIT);
    if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))) return false;
    --awaitingCount_;
    connection.conversation->ended();
    return true;
  }

  // Writes what the socket takes; true once all is written (or the peer is gone).
  bool write(Connection& connection) {
    while (!connection.output.empty()) {
      const ssize_t put = ::send(connection.fd.get(), connection.output.data(), connection.output.size(),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
      if (put < 0) return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
      connection.output.erase(0, static_cast<size_t>(put));
    }
    ::shutdown(connection.fd.get(), SHUT_WR);
    return true;
  }

  void takeReplies(std::vector<Connection>& connections) {
    char drain[256];
    while (::read(replyRead_.get(), drain, sizeof drain) > 0) {
    }
    std::vector<std::pair<uint64_t, std::string>> replies;
    std::vector<uint64_t> keepAlives;
    {
      std::lock_guard lock(repliesMutex_);
      replies.swap(replies_);
      keepAlives.swap(keepAlives_);
    }
    // One byte into an idle socket's buffer: a peer that does not read loses it, and nothing waits.
    for (const uint64_t id : keepAlives)
      for (auto& connection : connections)
        if (connection.id == id && connection.awaiting && !connection.writing)
          (void)!::send(connection.fd.get(), "\n", 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    for (auto& [id, bytes] : replies)
      for (auto& connection : connections)
        if (connection.id == id && connection.awaiting && !connection.writing) {
          --awaitingCount_;
          connection.writing = true;
          connection.output = std::move(bytes);
          connection.deadline = Clock::now() + std::chrono::seconds(5);  // a peer that does not read
        }
  }

  void queueReply(uint64_t connection, std::string bytes) {
    {
      std::lock_guard lock(repliesMutex_);
      replies_.emplace_back(connection, std::move(bytes));
    }
    const char byte = 1;
    (void)!::write(replyWrite_.get(), &byte, 1);
  }

  void queueKeepAlive(uint64_t connection) {
    {
      std::lock_guard lock(repliesMutex_);
      keepAlives_.push_back(connection);
    }
    const char byte = 1;
    (void)!::write(replyWrite_.get(), &byte, 1);
  }

  static Clock::duration lifetime(Seconds seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  }

  void accept(std::vector<Connection>& connections, std::vector<char>& piece) {
    // Take everything waiting, so that a burst does not sit in the backlog.
    for (int taken = 0; taken < 64; ++taken) {
      Fd fd(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
      if (fd.get() < 0) return;
      const auto uid = peerUid(fd.get());
      if (!uid || *uid != peerUid_) continue;  // another user: closed unread
      size_t reading = 0;
      for (auto& connection : connections) reading += connection.awaiting || connection.writing ? 0 : 1;
      if (reading >= options_.maxConnections) {
        // Full: the oldest peer still writing gives way, so silent peers cannot lock hooks out.
        for (auto it = connections.begin(); it != connections.end(); ++it)
          if (!it->awaiting && !it->writing) {
            connections.erase(it);
            break;
          }
      }
      auto conversation = factory_ ? factory_() : nullptr;
      if (!conversation) continue;
      const uint64_t id = nextId_++;
      conversation->opened(std::make_shared<LoopReply>(weak_from_this(), id));
      connections.push_back(
          {id, std::move(fd), std::move(conversation), Clock::now() + lifetime(options_.connectionLifetime)});
      // A hook writes at once: serve it now, before a crowd of later connections can push it out.
      if (serve(connections.back(), piece)) connections.pop_back();
    }
  }

  Fd socket_;
  LocalListenerOptions options_;
  uid_t peerUid_;
  LocalSocketService::ConversationFactory factory_;
  Fd wakeRead_;
  Fd replyRead_, replyWrite_;
  std::mutex repliesMutex_;
  std::vector<std::pair<uint64_t, std::string>> replies_;
  std::vector<uint64_t> keepAlives_;
  size_t awaitingCount_ = 0;
  uint64_t nextId_ = 1;
};

void LoopReply::send(std::string bytes) {
  if (sent_.exchange(true)) return;
  if (auto loop = loop_.lock()) loop->queueReply(connection_, std::move(bytes));
}

void LoopReply::keepAlive() {
  if (sent_.load()) return;
  if (auto loop = loop_.lock()) loop->queueKeepAlive(connection_);
}

class UnixListener final : public LocalListener {
 public:
  UnixListener(std::shared_ptr<ListenLoop> loop, std::string path, Fd wakeWrite)
      : loop_(std::move(loop)), path_(std::move(path)), wakeWrite_(std::move(wakeWrite)) {
    struct stat info {};
    if (::stat(path_.c_str(), &info) == 0) socketInode_ = info.st_ino;
    thread_ = std::thread([loop = loop_] { loop->run(); });
  }

  ~UnixListener() override {
    const char byte = 1;
    (void)!::write(wakeWrite_.get(), &byte, 1);
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();  // let go inside a conversation: the loop ends on its own, holding itself
    else if (thread_.joinable())
      thread_.join();
    // Remove the file only while it is still ours: a later server may have replaced it.
    struct stat info {};
    if (::lstat(path_.c_str(), &info) == 0 && info.st_ino == socketInode_) ::unlink(path_.c_str());
  }

 private:
  std::shared_ptr<ListenLoop> loop_;
  std::string path_;
  Fd wakeWrite_;
  ino_t socketInode_ = 0;
  std::thread thread_;
};

}  // namespace

UnixSocketService::UnixSocketService() : peerUid_(::geteuid()) {}

ListenOutcome UnixSocketService::listen(const std::string& path, const LocalListenerOptions& options,
                                        ConversationFactory newConversation) {
  ListenOutcome outcome;
  sockaddr_un address{};
  if (!fillAddress(path, address)) {
    outcome.error = "the socket path is empty or too long: " + path;
    return outcome;
  }
  if (auto error = prepareFolder(std::filesystem::path(path).parent_path())) {
    outcome.error = *error;
    return outcome;
  }
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode)) {
      // Not ours to delete: someone's file (or a link) sits where the socket goes.
      outcome.error = "something other than a socket is at " + path + "; it was left untouched: move it away";
      return outcome;
    }
    // Another user's socket is neither another Tovami nor ours to replace unasked: said plainly.
    if (info.st_uid != ::geteuid()) {
      outcome.error =
          "the socket " + path + " belongs to another user (" + uidText(info.st_uid) + "); remove it";
      return outcome;
    }
    if (const auto listener = listenerUid(address)) {
      if (*listener != ::geteuid()) {
        outcome.error = "the socket " + path + " is answered by another user's program (" +
                        uidText(*listener) + "); remove it";
        return outcome;
      }
      outcome.servedByAnother = true;
      outcome.error = "another server listens at " + path;
      return outcome;
    }
    ::unlink(path.c_str());  // a socket left behind by a run that ended without cleaning up
  }
  Fd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (socket.get() < 0) {
    outcome.error = systemError("socket");
    return outcome;
  }
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    outcome.error = systemError("bind");
    return outcome;
  }
  if (::chmod(path.c_str(), 0600) != 0 || ::listen(socket.get(), 64) != 0) {
    outcome.error = systemError("listen");
    ::unlink(path.c_str());
    return outcome;
  }
  int wake[2], reply[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    outcome.error = systemError("pipe");
    ::unlink(path.c_str());
    return outcome;
  }
  if (::pipe2(reply, O_CLOEXEC | O_NONBLOCK) != 0) {
    outcome.error = systemError("pipe");
    ::close(wake[0]);
    ::close(wake[1]);
    ::unlink(path.c_str());
    return outcome;
  }
  auto loop = std::make_shared<ListenLoop>();
  loop->socket_ = std::move(socket);
  loop->options_ = options;
  loop->peerUid_ = peerUid_;
  loop->factory_ = std::move(newConversation);
  loop->wakeRead_ = Fd(wake[0]);
  loop->replyRead_ = Fd(reply[0]);
  loop->replyWrite_ = Fd(reply[1]);
  outcome.listener = std::make_unique<UnixListener>(std::move(loop), path, Fd(wake[1]));
  return outcome;
}

}  // namespace tovami::linux_backend
