// Whole-file reads and crash-safe rewrites with POSIX calls (Linux and macOS).
#pragma once

#include "platform/file_system.h"

namespace tovami::linux_backend {

class PosixFileSystem final : public FileSystem {
 public:
  // A file larger than this is not read: no settings or credentials file comes near it.
  static constexpr size_t kMaxReadBytes = 16u << 20;

  FileContents read(const std::string& path) override;
  bool exists(const std::string& path) override;
  bool isExecutable(const std::string& path) override;
  std::optional<std::string> copyNew(const std::string& from, const std::string& to) override;
  std::optional<std::string> replaceContents(const std::string& path, const std::string& bytes) override;
  ReplaceOutcome replaceIfUnchanged(const std::string& path, const FileContents& expected,
                                    const std::string& bytes) override;

 private:
  // `expected`: when given, the file must still hold it just before the rename.
  ReplaceOutcome replace(const std::string& path, const std::string& bytes, const FileContents* expected);
};

}  // namespace tovami::linux_backend
