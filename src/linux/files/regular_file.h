// Reading files whose content the user or another program controls. Only regular files are
// read: a FIFO or a device is refused before it is opened, and the open is non-blocking, so a
// FIFO swapped in after the look still cannot hang the reader. Reads stop at a size limit.
#pragma once

#include <cstddef>
#include <string>

namespace tovami::linux_backend {

enum class FileRead { missing, unreadable, read };

// Fills `bytes` with the file's content, or `why` with the reason it was not read.
FileRead readRegularFile(const std::string& path, size_t limit, std::string& bytes, std::string& why);

}  // namespace tovami::linux_backend
