#include "linux/integrations/curl_http_client.h"

#include <curl/curl.h>

#include <memory>

namespace tovami::linux_backend {
namespace {

size_t collect(char* data, size_t size, size_t count, void* userData) {
  auto* body = static_cast<std::string*>(userData);
  const size_t bytes = size * count;
  if (body->size() + bytes > CurlHttpClient::kMaxBodyBytes) return 0;  // ends the transfer
  body->append(data, bytes);
  return bytes;
}

}  // namespace

// On the first request, not at start: initialising the TLS libraries costs megabytes of memory
// that a program whose usage meter is off never needs.
CurlHttpClient::CurlHttpClient() = default;

HttpResponse CurlHttpClient::get(const std::string& url,
                                 const std::vector<std::pair<std::string, std::string>>& headers,
                                 double timeoutSeconds) {
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  (void)initialised;
  HttpResponse response;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) {
    response.error = "cannot start a request";
    return response;
  }
  curl_slist* list = nullptr;
  for (const auto& [name, value] : headers) list = curl_slist_append(list, (name + ": " + value).c_str());
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(list, curl_slist_free_all);
  const long timeoutMs = static_cast<long>(timeoutSeconds * 1000);
  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerList.get());
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, timeoutMs);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);        // safe off the main thread
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);  // the bearer token never travels elsewhere
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https,http");
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &response.body);
  curl_easy_setopt(handle, CURLOPT_USERAGENT, "Tovami");
  const CURLcode result = curl_easy_perform(handle);
  if (result != CURLE_OK) {
    response.error = curl_easy_strerror(result);
    response.body.clear();
    return response;
  }
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &response.status);
  return response;
}

}  // namespace tovami::linux_backend
