// The Claude Code transcript summary: any bytes as a JSON-lines transcript, read through the
// stream entry point the session reader uses. An input starting with byte 0x01 is repeated past
// the head and tail windows, so the cuts land inside records.
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
  std::string_view input = fuzz::asText(data, size);
  std::string file;
  if (!input.empty() && input.front() == '\x01' && input.size() > 1) {
    input.remove_prefix(1);
    const size_t wanted = claude_transcript::kHeadBytes + claude_transcript::kTailBytes + 4096;
    file.reserve(wanted + input.size());
    while (file.size() < wanted) file.append(input);
  } else {
    file.assign(input);
  }
  std::istringstream stream(file);
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
