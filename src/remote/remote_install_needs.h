// The newest glibc an ELF program needs, from its version needs (.gnu.version_r): "Install on
// <host>" compares it with the host's glibc before it copies the entry there.
#pragma once

#include <optional>
#include <string_view>

#include "remote/remote_install.h"

namespace tovami::remote::install {

// {0, 0} for a program that needs no glibc version; nothing for bytes that are not a 64-bit
// little-endian ELF file, or whose tables lie outside them.
std::optional<GlibcVersion> newestGlibcNeeded(std::string_view elf);

}  // namespace tovami::remote::install
