// Files in memory for the installers' tests; `folder` is the one folder that exists.
#pragma once

#include <map>
#include <string>

#include "platform/file_system.h"

namespace tovami::testing {

struct MemoryFiles final : FileSystem {
  explicit MemoryFiles(std::string existingFolder = "/home/u/.claude") : folder(std::move(existingFolder)) {}
  std::string folder;
  std::map<std::string, std::string> files;
  int reads = 0, writes = 0;
  FileContents read(const std::string& path) override {
    ++reads;
    auto it = files.find(path);
    if (it == files.end()) return {FileContents::Status::missing, {}, "absent"};
    return {FileContents::Status::ok, it->second, {}};
  }
  bool exists(const std::string& path) override { return files.count(path) || path == folder; }
  bool isExecutable(const std::string&) override { return false; }
  std::optional<std::string> copyNew(const std::string& from, const std::string& to) override {
    files[to] = files[from];
    return std::nullopt;
  }
  std::optional<std::string> replaceContents(const std::string& path, const std::string& bytes) override {
    files[path] = bytes;
    return std::nullopt;
  }
  ReplaceOutcome replaceIfUnchanged(const std::string& path, const FileContents&,
                                    const std::string& bytes) override {
    ++writes;
    files[path] = bytes;
    return {ReplaceOutcome::Status::replaced, {}};
  }
};

}  // namespace tovami::testing
