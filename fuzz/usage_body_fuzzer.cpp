// The plan-usage readers: any bytes as the HTTP body, as the credentials file and as a reset time.
#include <nlohmann/json.hpp>

#include "fuzz_support.h"
#include "peers/usage_snapshot.h"

using namespace tovami;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::silenceLogs();
  const std::string_view text = fuzz::asText(data, size);
  const auto body = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (body.is_object()) {
    const UsageSnapshot snapshot = usageSnapshotFrom(body, 0);
    resetCountdown(snapshot.fiveHourResets, 0);
    resetCountdown(snapshot.sevenDayResets, 1e9);
  }
  // An empty string still counts as a token (the server answers it with a refusal).
  if (const auto token = accessTokenFrom(text)) fuzz::require(token->size() < size, "a token is part of its file");
  resetCountdown(parseInternetDateTime(text), 1.7e9);
  return 0;
}
