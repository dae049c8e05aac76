// "Install on <host>": what the desktop asks a host before it copies its own entry there, and the
// plain words for a host it cannot run on. The ssh part is the backend's (linux/remote/remote_installer).
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tovami::remote::install {

struct GlibcVersion {
  int major = 0, minor = 0;
  auto operator<=>(const GlibcVersion&) const = default;
  std::string text() const { return std::to_string(major) + "." + std::to_string(minor); }
};

// What the probe learned of the host; empty when it did not say.
struct HostFacts {
  std::string machine;  // uname -m
  std::string libc;     // `getconf GNU_LIBC_VERSION`, else the first line of `ldd --version`
  std::string home;
  std::string onPath;   // `command -v tovami`
};

// The most of the probe's and the copy's output that is read; a host that prints more fails.
constexpr size_t kMaxOutput = 16 * 1024;

// The remote command (run by the host's login shell) that prints the facts, one marked line each.
std::string probeCommand();
// The facts from the probe's output (a start-up file's own lines are skipped). Nothing without a
// machine line.
std::optional<HostFacts> parseProbe(std::string_view output);

// "glibc 2.36" (getconf) or "ldd (Debian GLIBC 2.36-9+deb12u4) 2.36" / "ldd (GNU libc) 2.39" (ldd).
std::optional<GlibcVersion> glibcVersion(std::string_view libc);
// "GLIBC_2.34" (an ELF version need) → 2.34; GLIBC_PRIVATE and the like → nothing.
std::optional<GlibcVersion> glibcVersionNeed(std::string_view name);

struct Verdict {
  bool install = false;
  std::string words;  // why not, when it does not
};
// Whether this Tovami's entry (built for `localMachine`, needing `needed`; {0, 0}: no glibc) can run
// on `host`, and whether it may go into ~/.local/bin there: a tovami of the host's own elsewhere on
// its PATH is never replaced.
Verdict judge(const std::string& host, const HostFacts& facts, const std::string& localMachine, GlibcVersion needed);

// The remote command that writes its standard input to ~/.local/bin/tovami (made if missing) under
// a temporary name, makes it executable and renames it, then prints the size it wrote.
std::string copyCommand();
// The copy's output says it wrote `size` bytes.
bool copied(std::string_view output, uint64_t size);

// The words while an install runs.
std::string installingText(const std::string& host);

// A link state that Settings offers to install for (the remote side is missing there).
bool offersInstall(std::string_view stateText);

}  // namespace tovami::remote::install
