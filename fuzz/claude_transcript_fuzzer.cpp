// The Claude Code transcript summary: any bytes as a JSON-lines transcript, read through the
// stream entry point the session reader uses. (Inputs stay far below the 32 KB head window: a
// transcript long enough to cut costs a tenth of a second per run; the unit tests cover the cuts.)
#include <sstream>
#include <string>

#include "agents/claude_transcript_parsing.h"
#include "agents/process_sampling.h"
#include "fuzz_support.h"

using namespace tovami;

namespace {

void requireText(const std::optional<std::string>& text) {
  if (text) fuzz::require(isValidUtf8(*text), "a transcript text is valid UTF-8");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input = fuzz::asText(data, size);
  std::istringstream stream{std::string(input)};
  const ClaudeSessionInfo info = claude_transcript::parse(stream);
  requireText(info.title);
  requireText(info.youLine);
  requireText(info.replyLine);
  requireText(info.modelName);
  requireText(info.activityLine);

  if (isValidUtf8(input)) {
    fuzz::require(isValidUtf8(claude_transcript::clean(input)), "clean() keeps UTF-8 valid");
    fuzz::require(isValidUtf8(claude_transcript::modelDisplayName(input)), "a model name stays UTF-8");
  }
  return 0;
}
