// One blocking HTTP(S) request at a time, for the plan-usage fetch.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tovami {

struct HttpResponse {
  long status = 0;    // 0 when no HTTP response arrived (time-out, transport error)
  std::string body;   // empty without a response
  std::string error;  // transport failure, for the log; never contains request headers
  std::string retryAfter;  // the response's Retry-After header, as sent (bounded); empty without one
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // GET without redirects. Returns within `timeoutSeconds` (plus scheduling slack) whatever the
  // server does. Callable from any one thread at a time.
  virtual HttpResponse get(const std::string& url,
                           const std::vector<std::pair<std::string, std::string>>& headers,
                           double timeoutSeconds) = 0;
};

}  // namespace tovami
