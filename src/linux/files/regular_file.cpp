#include "linux/files/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tovami::linux_backend {
namespace {

bool usable(const struct stat& info, size_t limit, std::string& why) {
  if (!S_ISREG(info.st_mode))
    why = "not a regular file";
  else if (size_t(info.st_size) > limit)
    why = "larger than " + std::to_string(limit) + " bytes";
  return why.empty();
}

}  // namespace

FileRead readRegularFile(const std::string& path, size_t limit, std::string& bytes, std::string& why) {
  bytes.clear();
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return FileRead::missing;
    why = std::strerror(errno);
    return FileRead::unreadable;
  }
  if (!usable(info, limit, why)) return FileRead::unreadable;
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    why = errno == ENOENT ? std::string() : std::strerror(errno);
    return why.empty() ? FileRead::missing : FileRead::unreadable;
  }
  if (fstat(fd, &info) == 0 && usable(info, limit, why)) {
    char chunk[16384];
    for (;;) {
      const ssize_t got = read(fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) why = std::strerror(errno);
      if (got <= 0) break;
      bytes.append(chunk, size_t(got));
      if (bytes.size() > limit) {  // grew since the look
        why = "larger than " + std::to_string(limit) + " bytes";
        break;
      }
    }
  } else if (why.empty()) {
    why = std::strerror(errno);
  }
  close(fd);
  return why.empty() ? FileRead::read : FileRead::unreadable;
}

}  // namespace tovami::linux_backend
