#include "remote/remote_install.h"

#include <algorithm>
#include <charconv>

namespace tovami::remote::install {
namespace {

constexpr std::string_view kMark = "tovami-probe ";
constexpr size_t kMaxFact = 512;

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// "2.36", "2.36-9", "2.2.5": the first two numbers.
std::optional<GlibcVersion> leadingVersion(std::string_view text) {
  GlibcVersion version;
  const char* end = text.data() + text.size();
  auto [afterMajor, e1] = std::from_chars(text.data(), end, version.major);
  if (e1 != std::errc() || afterMajor == end || *afterMajor != '.') return std::nullopt;
  auto [afterMinor, e2] = std::from_chars(afterMajor + 1, end, version.minor);
  if (e2 != std::errc() || version.major < 0 || version.major > 99 || version.minor < 0 || version.minor > 999)
    return std::nullopt;
  if (afterMinor != end && *afterMinor != '.' && *afterMinor != '-') return std::nullopt;
  return version;
}

bool has(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

bool usableMachine(std::string_view machine) {
  return !machine.empty() && machine.size() <= 32 && std::all_of(machine.begin(), machine.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
  });
}

}  // namespace

std::string probeCommand() {
  // getconf knows glibc alone; musl's ldd names itself on its standard error.
  return "sh -c 'echo \"tovami-probe machine $(uname -m)\"; "
         "echo \"tovami-probe libc $( (getconf GNU_LIBC_VERSION 2>/dev/null || ldd --version 2>&1) | head -n 1)\"; "
         "echo \"tovami-probe home $HOME\"; echo \"tovami-probe path $(command -v tovami)\"'";
}

std::optional<HostFacts> parseProbe(std::string_view output) {
  HostFacts facts;
  bool machine = false;
  while (!output.empty()) {
    const auto end = std::min(output.find('\n'), output.size());
    std::string_view line = output.substr(0, end);
    output.remove_prefix(std::min(end + 1, output.size()));
    if (!line.starts_with(kMark)) continue;
    line.remove_prefix(kMark.size());
    const auto space = std::min(line.find(' '), line.size());
    const std::string_view key = line.substr(0, space);
    const std::string value(trimmed(line.substr(std::min(space + 1, line.size())).substr(0, kMaxFact)));
    if (key == "machine") {
      facts.machine = value;
      machine = true;
    } else if (key == "libc") {
      facts.libc = value;
    } else if (key == "home") {
      facts.home = value;
    } else if (key == "path") {
      facts.onPath = value;
    }
  }
  if (!machine) return std::nullopt;
  return facts;
}

std::optional<GlibcVersion> glibcVersion(std::string_view libc) {
  libc = trimmed(libc);
  if (!libc.starts_with("glibc ") && !has(libc, "GLIBC") && !has(libc, "GNU libc")) return std::nullopt;
  const auto space = libc.find_last_of(' ');
  return leadingVersion(libc.substr(space + 1));
}

std::optional<GlibcVersion> glibcVersionNeed(std::string_view name) {
  if (!name.starts_with("GLIBC_")) return std::nullopt;
  return leadingVersion(name.substr(6));
}

Verdict judge(const std::string& host, const HostFacts& facts, const std::string& localMachine, GlibcVersion needed) {
  const std::string cannot = "Tovami cannot run on " + host + ": ";
  if (!usableMachine(facts.machine)) return {false, "Tovami cannot tell what kind of machine " + host + " is"};
  if (facts.machine != localMachine)
    return {false, cannot + "it is " + facts.machine + ", this Tovami is built for " + localMachine};
  if (needed > GlibcVersion{}) {
    const std::string libc(trimmed(facts.libc));
    const auto version = glibcVersion(libc);
    if (!version) {
      const std::string named = libc.starts_with("musl") ? std::string("musl")
                                : libc.empty() || libc.size() > 64 ? std::string("unknown")
                                                                     : libc;
      return {false, cannot + "its C library is " + named + ", Tovami needs glibc " + needed.text()};
    }
    if (*version < needed)
      return {false, cannot + "its C library is glibc " + version->text() + ", Tovami needs " + needed.text()};
  }
  if (facts.home.empty() || facts.home[0] != '/') return {false, "Tovami cannot tell the home folder on " + host};
  // Ours to replace only in ~/.local/bin: a tovami elsewhere on the PATH is the host owner's.
  if (!facts.onPath.empty() && facts.onPath != facts.home + "/.local/bin/tovami")
    return {false, host + " has a tovami of its own at " + facts.onPath + ", which Tovami leaves alone: update it there"};
  return {true, {}};
}

std::string copyCommand() {
  // A half-written program is never found by the name: the rename is the last step.
  return "sh -c 'd=\"$HOME/.local/bin\"; t=\"$d/.tovami-install.$$\"; "
         "if mkdir -p \"$d\" && cat >\"$t\" && chmod 0755 \"$t\" && mv -f \"$t\" \"$d/tovami\"; "
         "then echo \"tovami-installed $(wc -c <\"$d/tovami\")\"; else rm -f \"$t\"; exit 1; fi'";
}

bool copied(std::string_view output, uint64_t size) {
  constexpr std::string_view mark = "tovami-installed";
  const auto at = output.rfind(mark);
  if (at == std::string_view::npos) return false;
  std::string_view rest = trimmed(output.substr(at + mark.size()));
  rest = rest.substr(0, std::min(rest.find('\n'), rest.size()));
  uint64_t written = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), written);
  return error == std::errc() && end == rest.data() + rest.size() && written == size;
}

std::string installingText(const std::string& host) {
  return "installing Tovami on " + host + "…";
}

bool offersInstall(std::string_view stateText) {
  return stateText.starts_with("Tovami is not installed on ");
}

}  // namespace tovami::remote::install
