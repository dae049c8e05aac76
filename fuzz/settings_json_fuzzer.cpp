// The agents' settings files: any bytes through the bounded reader; what it accepts must write
// back to text that reads as the same document (numbers spelled as before) and writes the same again.
#include "fuzz_support.h"
#include "peers/settings_json.h"

using namespace tovami;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::silenceLogs();
  std::string error;
  const auto document = settings_json::parse(fuzz::asText(data, size), error);
  fuzz::require(document.has_value() || !error.empty(), "a refusal says why");
  if (!document) return 0;
  const auto text = settings_json::dump(*document, error);
  if (!text) return 0;  // too large once indented
  const auto again = settings_json::parse(*text, error);
  fuzz::require(again && *again == *document, "the written text reads as the same document");
  const auto second = settings_json::dump(*again, error);
  fuzz::require(second && *second == *text, "writing is stable");
  return 0;
}
