// The conversation summaries of Claude Code, Codex and Gemini CLI logs: any bytes as a JSON-lines
// log, read through the stream entry points the readers use. (Inputs stay far below the 32 KB head window: a
// transcript long enough to cut costs a tenth of a second per run; the unit tests cover the cuts.)
#include <sstream>
#include <string>

#include "agents/claude_transcript_parsing.h"
#include "agents/codex_rollout.h"
#include "agents/gemini_chat.h"
#include "agents/process_sampling.h"
#include "fuzz_support.h"

using namespace tovami;

namespace {

void requireText(const std::optional<std::string>& text) {
  if (text) fuzz::require(isValidUtf8(*text), "a transcript text is valid UTF-8");
}

void requireTexts(const ConversationSummary& summary) {
  for (const auto* text : {&summary.title, &summary.youLine, &summary.replyLine, &summary.modelName,
                           &summary.activityLine, &summary.customTitle, &summary.generatedTitle})
    requireText(*text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input = fuzz::asText(data, size);
  std::istringstream stream{std::string(input)};
  const ClaudeSessionInfo info = claude_transcript::parse(stream);
  requireTexts(info);
  for (auto apply : {&codex_rollout::apply, &gemini_chat::apply}) {
    std::istringstream log{std::string(input)};
    log_lines::Mark mark;
    ConversationSummary summary;
    apply(log_lines::readSince(log, mark), summary);
    requireTexts(summary);
  }
  requireTexts(gemini_chat::parseDocument(input));
  (void)codex_rollout::sessionMeta(input);

  if (isValidUtf8(input)) {
    fuzz::require(isValidUtf8(claude_transcript::clean(input)), "clean() keeps UTF-8 valid");
    fuzz::require(isValidUtf8(claude_transcript::modelDisplayName(input)), "a model name stays UTF-8");
  }
  return 0;
}
