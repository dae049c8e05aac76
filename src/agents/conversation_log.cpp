#include "agents/conversation_log.h"

#include <chrono>
#include <fstream>
#include <system_error>

#include "agents/codex_rollout.h"
#include "agents/gemini_chat.h"
#include "peers/gemini_peer.h"

namespace tovami {

Seconds unixSeconds(std::filesystem::file_time_type time) {
  const auto system = std::chrono::file_clock::to_sys(time);
  return std::chrono::duration<Seconds>(system.time_since_epoch()).count();
}

ConversationLog::ConversationLog(std::filesystem::path path, ConversationFormat format)
    : path_(std::move(path)),
      format_(format),
      document_(format == ConversationFormat::gemini && path_.extension() == ".json") {}

std::optional<ConversationSummary> ConversationLog::read() {
  std::error_code error;
  // Fails for anything but a regular file (a folder, a FIFO, a device): one stat less a scan.
  const std::uintmax_t size = std::filesystem::file_size(path_, error);
  if (error) return std::nullopt;
  const auto modified = std::filesystem::last_write_time(path_, error);
  if (error) return std::nullopt;
  if (size_ && *size_ == size && modified_ == modified) return summary_;

  // Checked regular just above: opening cannot block (a swap for a FIFO in between is the
  // writer's own doing, and Claude Code, Codex and Gemini CLI write regular files only).
  std::ifstream in(path_, std::ios::binary);
  if (!in.is_open()) return std::nullopt;
  if (document_) {
    std::string text;
    if (size <= gemini::kChatDocumentMaxBytes) {
      text.resize(static_cast<std::size_t>(size));
      in.read(text.data(), static_cast<std::streamsize>(text.size()));
      text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    }
    summary_ = gemini_chat::parseDocument(text);
  } else {
    const log_lines::Chunk chunk = log_lines::readSince(in, mark_);
    switch (format_) {
      case ConversationFormat::claudeCode:
        claude_transcript::apply(chunk, mark_, summary_);
        break;
      case ConversationFormat::codex:
        codex_rollout::apply(chunk, summary_);
        break;
      case ConversationFormat::gemini:
        gemini_chat::apply(chunk, summary_);
        break;
    }
  }
  size_ = size;
  modified_ = modified;
  summary_.updatedAt = unixSeconds(modified);
  return summary_;
}

}  // namespace tovami
