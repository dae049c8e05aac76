// What the fuzz targets share: a silent log, the input cut into pieces, and a check that stops
// the run (so libFuzzer keeps the input) when a promise of the code under test is broken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/log.h"

namespace tovami::fuzz {

// Log lines for malformed input are expected by the thousand; they would drown libFuzzer's output.
inline void silenceLogs() {
  struct Silent final : LogSink {
    void write(LogLevel, std::string_view, std::string_view) override {}
  };
  static const bool once = (setLogSink(std::make_shared<Silent>()), true);
  (void)once;
}

inline std::string_view asText(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Cuts `text` at each `separator` byte into at most `limit` pieces (the last keeps the rest).
inline std::vector<std::string_view> pieces(std::string_view text, char separator, size_t limit) {
  std::vector<std::string_view> out;
  while (out.size() + 1 < limit) {
    const size_t at = text.find(separator);
    if (at == std::string_view::npos) break;
    out.push_back(text.substr(0, at));
    text.remove_prefix(at + 1);
  }
  out.push_back(text);
  return out;
}

// A broken promise is a finding, reported and kept like a crash.
inline void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz: broken promise: %s\n", what);
  std::abort();
}

}  // namespace tovami::fuzz
