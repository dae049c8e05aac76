#include "platform/log.h"

#include <cstdio>
#include <mutex>

namespace tovami {
namespace {

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<LogSink>& currentSink() {
  static std::shared_ptr<LogSink> sink;
  return sink;
}

void emit(LogLevel level, std::string_view category, std::string_view message) {
  std::shared_ptr<LogSink> sink;
  {
    std::lock_guard lock(sinkMutex());
    sink = currentSink();
  }
  if (sink) {
    sink->write(level, category, message);
    return;
  }
  std::fprintf(stderr, "tovami[%.*s] %s: %.*s\n", static_cast<int>(category.size()), category.data(),
               level == LogLevel::error ? "error" : "info", static_cast<int>(message.size()), message.data());
}

}  // namespace

void setLogSink(std::shared_ptr<LogSink> sink) {
  std::lock_guard lock(sinkMutex());
  currentSink() = std::move(sink);
}

void logInfo(std::string_view category, std::string_view message) {
  emit(LogLevel::info, category, message);
}
void logError(std::string_view category, std::string_view message) {
  emit(LogLevel::error, category, message);
}

}  // namespace tovami
