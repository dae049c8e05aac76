// The /proc sampler over a fake /proc holding one process whose files are the input. The input is
// cut at byte 0x1E into stat, cmdline, status, uptime and loadavg; a missing piece leaves its file
// out (uptime falls back to a plain value). Each input is sampled twice: the second scan answers from
// the sampler's cache and must give the same rows.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "agents/process_sampling.h"
#include "fuzz_support.h"
#include "linux/agents/proc_sampler.h"

using namespace tovami;
namespace fs = std::filesystem;

namespace {

const fs::path& fakeProc() {
  static const fs::path root = [] {
    std::string pattern = fs::temp_directory_path().string() + "/tovami-fuzz-proc.XXXXXX";
    fuzz::require(::mkdtemp(pattern.data()) != nullptr, "a scratch folder can be made");
    fs::create_directory(fs::path(pattern) / "4242");
    std::atexit([] { fs::remove_all(fakeProc()); });
    return fs::path(pattern);
  }();
  return root;
}

// Writes `content` to `name` under the fake /proc, or removes the file when there is none.
void put(const char* name, const std::string_view* content) {
  const fs::path path = fakeProc() / name;
  if (!content) {
    ::unlink(path.c_str());
    return;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  fuzz::require(fd >= 0, "a fake /proc file can be written");
  fuzz::require(::write(fd, content->data(), content->size()) == static_cast<ssize_t>(content->size()),
                "a fake /proc file is written whole");
  ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::silenceLogs();
  const auto parts = fuzz::pieces(fuzz::asText(data, size), '\x1e', 5);
  const auto piece = [&](size_t i) { return i < parts.size() ? &parts[i] : nullptr; };
  static constexpr std::string_view kUptime = "35000.25 64000.50\n";
  put("4242/stat", piece(0));
  put("4242/cmdline", piece(1));
  put("4242/status", piece(2));
  put("uptime", piece(3) ? piece(3) : &kUptime);
  put("loadavg", piece(4));

  linux_backend::ProcSampler sampler(fakeProc().string());
  const auto first = sampler.sampleProcesses();
  const auto second = sampler.sampleProcesses();
  fuzz::require(first.has_value() == second.has_value(), "two scans of the same files agree");
  if (first) {
    fuzz::require(*first == *second, "a cached scan gives the rows of a fresh one");
    for (const PSRow& row : *first) {
      fuzz::require(row.pid == 4242, "rows come from pid folders");
      fuzz::require(isValidUtf8(row.args), "a command line is valid UTF-8");
      fuzz::require(row.elapsed >= 0, "a process is not younger than zero");
    }
  }

  if (const auto* cmdline = piece(1)) {
    const std::string text = linux_backend::commandLineText(*cmdline);
    fuzz::require(isValidUtf8(text), "commandLineText gives UTF-8");
    for (const char c : text)
      fuzz::require(static_cast<unsigned char>(c) >= 0x20 && c != 0x7f, "no control bytes");
  }
  return 0;
}
