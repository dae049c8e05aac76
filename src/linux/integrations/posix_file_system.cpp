#include "linux/integrations/posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

namespace tovami::linux_backend {
namespace {

std::string describe(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t wrote = ::write(fd, data, size);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += wrote;
    size -= static_cast<size_t>(wrote);
  }
  return true;
}

// The file a path finally names, following symbolic links (also one that points nowhere yet).
std::optional<std::string> resolveLinks(const std::string& path) {
  std::filesystem::path current(path);
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current.string();
    std::error_code error;
    auto target = std::filesystem::read_symlink(current, error);
    if (error) return std::nullopt;
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  errno = ELOOP;
  return std::nullopt;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace

FileContents PosixFileSystem::read(const std::string& path) {
  FileContents contents;
  auto fail = [&contents](std::string error) {
    contents.status = FileContents::Status::failed;
    contents.error = std::move(error);
    contents.bytes.clear();
    return contents;
  };
  // Opening a FIFO for reading waits for a writer, and a device may never end: look first, open
  // without blocking, and look again at what was opened (the path may have changed in between).
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    contents.status = errno == ENOENT ? FileContents::Status::missing : FileContents::Status::failed;
    contents.error = std::strerror(errno);
    return contents;
  }
  if (!S_ISREG(info.st_mode)) return fail("not a regular file");
  Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.get() < 0) {
    contents.status = errno == ENOENT ? FileContents::Status::missing : FileContents::Status::failed;
    contents.error = std::strerror(errno);
    return contents;
  }
  if (::fstat(fd.get(), &info) != 0) return fail(std::strerror(errno));
  if (!S_ISREG(info.st_mode)) return fail("not a regular file");
  if (static_cast<unsigned long long>(info.st_size) > kMaxReadBytes) return fail("the file is too large");
  char buffer[65536];
  while (true) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(std::strerror(errno));
    if (got == 0) break;
    contents.bytes.append(buffer, static_cast<size_t>(got));
    if (contents.bytes.size() > kMaxReadBytes) return fail("the file is too large");
  }
  contents.status = FileContents::Status::ok;
  return contents;
}

bool PosixFileSystem::exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool PosixFileSystem::isExecutable(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> PosixFileSystem::copyNew(const std::string& from, const std::string& to) {
  auto contents = read(from);
  if (contents.status != FileContents::Status::ok) return "cannot read " + from + ": " + contents.error;
  Fd fd(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.get() < 0) return describe("cannot create " + to);
  if (!writeAll(fd.get(), contents.bytes.data(), contents.bytes.size()) || ::fsync(fd.get()) != 0) {
    const std::string error = describe("cannot write " + to);
    ::unlink(to.c_str());
    return error;
  }
  return std::nullopt;
}

std::optional<std::string> PosixFileSystem::replaceContents(const std::string& path,
                                                            const std::string& bytes) {
  auto outcome = replace(path, bytes, nullptr);
  if (outcome.status == ReplaceOutcome::Status::failed) return outcome.error;
  return std::nullopt;
}

ReplaceOutcome PosixFileSystem::replaceIfUnchanged(const std::string& path, const FileContents& expected,
                                                   const std::string& bytes) {
  return replace(path, bytes, &expected);
}

ReplaceOutcome PosixFileSystem::replace(const std::string& path, const std::string& bytes,
                                        const FileContents* expected) {
  auto failed = [](std::string error) {
    return ReplaceOutcome{ReplaceOutcome::Status::failed, std::move(error)};
  };
  const auto target = resolveLinks(path);
  if (!target) return failed(describe("cannot follow the link " + path));
  mode_t mode = 0600;
  struct stat info {};
  if (::stat(target->c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode)) return failed(*target + " is not a regular file");
    mode = info.st_mode & 07777;
  }
  std::string temporary = *target + ".tovami-XXXXXX";
  std::vector<char> name(temporary.begin(), temporary.end());
  name.push_back('\0');
  Fd fd(::mkostemp(name.data(), O_CLOEXEC));
  if (fd.get() < 0) return failed(describe("cannot create a file beside " + *target));
  temporary = name.data();
  const bool written = ::fchmod(fd.get(), mode) == 0 && writeAll(fd.get(), bytes.data(), bytes.size()) &&
                       ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0;
  if (!written) {
    const std::string error = describe("cannot write " + *target);
    ::unlink(temporary.c_str());
    return failed(error);
  }
  if (expected) {
    const auto now = read(*target);
    const bool same = now.status == expected->status &&
                      (now.status != FileContents::Status::ok || now.bytes == expected->bytes);
    if (!same) {
      ::unlink(temporary.c_str());
      if (now.status == FileContents::Status::failed)
        return failed("cannot read " + *target + ": " + now.error);
      return {ReplaceOutcome::Status::changedMeanwhile, {}};
    }
  }
  if (::rename(temporary.c_str(), target->c_str()) != 0) {
    const std::string error = describe("cannot write " + *target);
    ::unlink(temporary.c_str());
    return failed(error);
  }
  // The rename itself reaches the disk with the folder.
  Fd folder(::open(std::filesystem::path(*target).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) ::fsync(folder.get());
  return {ReplaceOutcome::Status::replaced, {}};
}

}  // namespace tovami::linux_backend
