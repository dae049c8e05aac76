// The approval socket: any bytes from a peer, delivered in the pieces the input marks with 0x1E,
// through the conversation that collects one JSON object, then read as a request (either road).
#include <nlohmann/json.hpp>

#include "agents/process_sampling.h"
#include "fuzz_support.h"
#include "agents/user_text.h"
#include "approvals/approval_request.h"
#include "approvals/hook_client.h"

using namespace tovami;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::silenceLogs();
  int objects = 0;
  ApprovalConversation conversation([&objects](const nlohmann::json& object) {
    ++objects;
    fuzz::require(object.is_object(), "only an object is handed on");
    const auto envelope = readEnvelope(object);
    if (!envelope) return;
    if (auto request = approvalRequestFrom(*envelope->payload, "id", 0, agentOf(envelope->event))) {
      fuzz::require(
          isValidUtf8(request->detail) && isValidUtf8(request->toolName) && isValidUtf8(request->projectName),
          "a request's texts are UTF-8");
      fuzz::require(user_text::characterCount(request->detail) <= kApprovalDetailLength, "the detail is cut");
    }
  });
  size_t held = 0;
  bool ended = false;
  for (std::string_view piece : fuzz::pieces(fuzz::asText(data, size), '\x1e', 64)) {
    held += piece.size();
    if ((ended = conversation.received(piece) != StreamConversation::Next::more)) break;
    fuzz::require(held <= ApprovalConversation::kMaxBufferedBytes,
                  "a flood past the cap ends the conversation");
  }
  fuzz::require(objects <= 1 && (objects == 0 || ended), "one object ends the conversation");
  return 0;
}
