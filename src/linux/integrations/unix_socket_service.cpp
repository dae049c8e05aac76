#include "linux/integrations/unix_socket_service.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
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

// The folder must be ours and closed to everyone else; a missing one is made.
std::optional<std::string> prepareFolder(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder.parent_path(), error);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return systemError("cannot create the socket folder");
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) return systemError("cannot inspect the socket folder");
  if (!S_ISDIR(info.st_mode)) return "the socket folder " + folder.string() + " is not a folder";
  if (info.st_uid != ::geteuid()) return "the socket folder " + folder.string() + " belongs to another user";
  if ((info.st_mode & 0777) != 0700 && ::chmod(folder.c_str(), 0700) != 0)
    return systemError("cannot close the socket folder to other users");
  return std::nullopt;
}

// True when a live server accepts connections at the path.
bool someoneListens(const sockaddr_un& address) {
  Fd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (probe.get() < 0) return false;
  return ::connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// The poll loop and everything it reads. The thread holds it too, so that a listener let go from
// inside a conversation (the thread itself) can detach without pulling the loop from under it.
struct ListenLoop {
  struct Connection {
    Fd fd;
    std::unique_ptr<StreamConversation> conversation;
    Clock::time_point deadline;
  };

  void run() {
    std::vector<Connection> connections;
    std::vector<char> piece(options_.pieceSize > 0 ? options_.pieceSize : 65536);
    std::vector<pollfd> polled;
    while (true) {
      polled.clear();
      polled.push_back({wakeRead_.get(), POLLIN, 0});
      polled.push_back({socket_.get(), POLLIN, 0});
      for (auto& connection : connections) polled.push_back({connection.fd.get(), POLLIN, 0});
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
        return;
      }
      if (polled[0].revents) return;  // asked to stop
      // Connections first (their slots in `polled` follow the order of `connections`).
      std::vector<bool> finished(connections.size(), false);
      for (size_t i = 0; i < connections.size(); ++i) {
        if (polled[i + 2].revents) finished[i] = serve(connections[i], piece);
        if (!finished[i] && Clock::now() >= connections[i].deadline) finished[i] = true;
      }
      for (size_t i = connections.size(); i-- > 0;)
        if (finished[i]) connections.erase(connections.begin() + static_cast<long>(i));
      if (polled[1].revents & POLLIN) accept(connections);
    }
  }

  // Reads what is there; true when the connection is done.
  bool serve(Connection& connection, std::vector<char>& piece) {
    const ssize_t got = ::recv(connection.fd.get(), piece.data(), piece.size(), MSG_DONTWAIT);
    if (got < 0) return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    if (got == 0) return true;  // the peer finished without a whole message
    if (!connection.conversation->received(std::string_view(piece.data(), static_cast<size_t>(got))))
      return false;
    ::shutdown(connection.fd.get(), SHUT_WR);  // the empty reply: end of stream, not a byte
    return true;
  }

  void accept(std::vector<Connection>& connections) {
    // Take everything waiting, so that a burst does not sit in the backlog.
    for (int taken = 0; taken < 64; ++taken) {
      Fd fd(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
      if (fd.get() < 0) return;
      const auto uid = peerUid(fd.get());
      if (!uid || *uid != peerUid_) continue;                       // another user: closed unread
      if (connections.size() >= options_.maxConnections) continue;  // full: closed unread
      auto conversation = factory_ ? factory_() : nullptr;
      if (!conversation) continue;
      const auto lifetime = std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(options_.connectionLifetime));
      connections.push_back({std::move(fd), std::move(conversation), Clock::now() + lifetime});
    }
  }

  Fd socket_;
  LocalListenerOptions options_;
  uid_t peerUid_;
  LocalSocketService::ConversationFactory factory_;
  Fd wakeRead_;
};

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
    if (S_ISSOCK(info.st_mode) && someoneListens(address)) {
      outcome.servedByAnother = true;
      outcome.error = "another server listens at " + path;
      return outcome;
    }
    ::unlink(path.c_str());  // left behind by a run that ended without cleaning up
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
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    outcome.error = systemError("pipe");
    ::unlink(path.c_str());
    return outcome;
  }
  auto loop = std::make_shared<ListenLoop>();
  loop->socket_ = std::move(socket);
  loop->options_ = options;
  loop->peerUid_ = peerUid_;
  loop->factory_ = std::move(newConversation);
  loop->wakeRead_ = Fd(wake[0]);
  outcome.listener = std::make_unique<UnixListener>(std::move(loop), path, Fd(wake[1]));
  return outcome;
}

}  // namespace tovami::linux_backend
