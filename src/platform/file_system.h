// Whole-file reads and safe rewrites of small files the program edits for the user.
#pragma once

#include <optional>
#include <string>

namespace tovami {

struct FileContents {
  enum class Status { ok, missing, failed };
  Status status = Status::failed;
  std::string bytes;  // ok only
  std::string error;  // failed only: the system's description
};

struct ReplaceOutcome {
  enum class Status { replaced, changedMeanwhile, failed };
  Status status = Status::failed;
  std::string error;  // failed only
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // "missing" only when no file exists at the path; anything else that stops the read is
  // "failed" (no permission, a folder, an I/O error). Only regular files are opened: a FIFO, a
  // socket or a device is "failed" at once, never waited on.
  virtual FileContents read(const std::string& path) = 0;
  virtual bool exists(const std::string& path) = 0;
  // True for a file that the current user may execute.
  virtual bool isExecutable(const std::string& path) = 0;
  // Copies a file to a path where nothing exists yet; an error text on failure.
  virtual std::optional<std::string> copyNew(const std::string& from, const std::string& to) = 0;
  // Replaces the file's contents in one step: readers see the old or the new bytes, never a mix,
  // and the new bytes are on disk before the old ones go. A symbolic link is followed (the link
  // stays and its target is rewritten); an existing file keeps its permission bits, a new one is
  // readable by its owner only. An error text on failure, with the old file unchanged.
  virtual std::optional<std::string> replaceContents(const std::string& path, const std::string& bytes) = 0;
  // As replaceContents, but only while the file still holds `expected` (for "missing": while no
  // file exists), checked once the new bytes are on disk, just before the rename. Another
  // program that rewrites the file meanwhile thus keeps its change; the caller reads again.
  virtual ReplaceOutcome replaceIfUnchanged(const std::string& path, const FileContents& expected,
                                            const std::string& bytes) = 0;
};

}  // namespace tovami
