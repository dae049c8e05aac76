// What comes up a remote link: any bytes, in the pieces the input marks with 0x1E (each a read, a
// twentieth of a second apart), through the line splitter, the decoder and the desktop's state
// (rows, requests, their local numbers), as RemoteHosts uses them.
#include <set>

#include "fuzz_support.h"
#include "remote/remote_protocol.h"

using namespace tovami;
using namespace tovami::remote;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::silenceLogs();
  UpStream stream("devbox");
  LocalRowIds ids;
  std::set<int64_t> pending;
  Seconds uptime = 0;
  for (std::string_view piece : fuzz::pieces(fuzz::asText(data, size), '\x1e', 256)) {
    const auto events = stream.feed(piece, uptime += 0.05, 1'800'000'000);
    if (stream.closed()) {
      fuzz::require(stream.rows().size() == 0, "a closed link holds no rows");
      fuzz::require(events.requests.empty() && !events.rowsChanged, "a closed link shows nothing");
      break;
    }
    fuzz::require(stream.rows().size() <= kMaxRows, "at most 64 rows");
    for (const auto& request : events.requests) {
      fuzz::require(pending.insert(request.id).second, "a request comes once");
      fuzz::require(request.payload.is_object(), "a request carries an object");
    }
    for (const int64_t id : events.withdrawn) fuzz::require(pending.erase(id) == 1, "only a waiting request is withdrawn");
    fuzz::require(pending.size() <= kMaxPendingRequests, "at most 32 requests wait");
    // Every other request is answered here, as a click does.
    if (!pending.empty() && (*pending.begin() & 1)) {
      stream.settled(*pending.begin());
      pending.erase(pending.begin());
    }
    if (!events.rowsChanged) continue;
    std::vector<std::string> rowIds;
    auto rows = stream.rows().sessions("devbox", stream.clockOffset(), 1'800'000'000, &rowIds);
    fuzz::require(rows.size() == rowIds.size() && rows.size() == stream.rows().size(), "one session a row");
    ids.number("devbox", rowIds, rows);
    for (size_t i = 0; i < rows.size(); ++i) {
      fuzz::require(LocalRowIds::isRemote(rows[i].pid), "a remote row never takes a local pid");
      fuzz::require(ids.rowOf(rows[i].pid)->second == rowIds[i], "a number names its row");
      fuzz::require(rows[i].ageMinutes >= 0, "an age is never negative");
    }
  }
  return 0;
}
