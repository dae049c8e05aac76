// HTTP(S) requests through libcurl: no redirects, a hard time limit, a bounded body.
#pragma once

#include "platform/http_client.h"

namespace tovami::linux_backend {

class CurlHttpClient final : public HttpClient {
 public:
  // A body larger than this is a fault of the server: the request fails.
  static constexpr size_t kMaxBodyBytes = 1u << 20;

  CurlHttpClient();
  HttpResponse get(const std::string& url, const std::vector<std::pair<std::string, std::string>>& headers,
                   double timeoutSeconds) override;
};

}  // namespace tovami::linux_backend
