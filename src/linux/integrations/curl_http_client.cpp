#include "linux/integrations/curl_http_client.h"

#include <curl/curl.h>

#include <cctype>
#include <memory>
#include <string_view>

#include "linux/files/shared_library.h"

namespace tovami::linux_backend {
namespace {

// libcurl is loaded on the first request, not linked: it brings some 25 libraries (TLS, LDAP,
// Kerberos, SSH) whose loading and relocation cost every start time and memory, while a program
// whose usage meter is off (or has no token) never makes a request.
struct CurlLibrary {
  decltype(&::curl_global_init) globalInit = nullptr;
  decltype(&::curl_easy_init) init = nullptr;
  decltype(&::curl_easy_cleanup) cleanup = nullptr;
  decltype(&::curl_easy_setopt) setopt = nullptr;
  decltype(&::curl_easy_perform) perform = nullptr;
  decltype(&::curl_easy_getinfo) getinfo = nullptr;
  decltype(&::curl_easy_strerror) strerror = nullptr;
  decltype(&::curl_slist_append) slistAppend = nullptr;
  decltype(&::curl_slist_free_all) slistFreeAll = nullptr;
};

// Null when libcurl cannot be loaded or initialised; asked once.
const CurlLibrary* curlLibrary() {
  static const CurlLibrary* loaded = []() -> const CurlLibrary* {
    const SharedLibrary library("libcurl.so.4");
    static CurlLibrary curl;
    const bool complete = library.resolve("curl_global_init", curl.globalInit) &&
                          library.resolve("curl_easy_init", curl.init) &&
                          library.resolve("curl_easy_cleanup", curl.cleanup) &&
                          library.resolve("curl_easy_setopt", curl.setopt) &&
                          library.resolve("curl_easy_perform", curl.perform) &&
                          library.resolve("curl_easy_getinfo", curl.getinfo) &&
                          library.resolve("curl_easy_strerror", curl.strerror) &&
                          library.resolve("curl_slist_append", curl.slistAppend) &&
                          library.resolve("curl_slist_free_all", curl.slistFreeAll);
    if (!complete || curl.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
    return &curl;
  }();
  return loaded;
}

size_t collect(char* data, size_t size, size_t count, void* userData) {
  auto* body = static_cast<std::string*>(userData);
  const size_t bytes = size * count;
  if (body->size() + bytes > CurlHttpClient::kMaxBodyBytes) return 0;  // ends the transfer
  body->append(data, bytes);
  return bytes;
}

// Keeps the Retry-After header (one line at a time, case-insensitive name); ignores the rest.
size_t header(char* data, size_t size, size_t count, void* userData) {
  const size_t bytes = size * count;
  constexpr std::string_view kName = "retry-after:";
  if (bytes > kName.size() && bytes < 256) {
    std::string line(data, bytes);
    bool match = true;
    for (size_t i = 0; i < kName.size() && match; ++i)
      match = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i]))) == kName[i];
    if (match) {
      line.erase(0, kName.size());
      while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.erase(0, 1);
      while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) line.pop_back();
      *static_cast<std::string*>(userData) = line;
    }
  }
  return bytes;
}

}  // namespace

CurlHttpClient::CurlHttpClient() = default;

HttpResponse CurlHttpClient::get(const std::string& url,
                                 const std::vector<std::pair<std::string, std::string>>& headers,
                                 double timeoutSeconds) {
  HttpResponse response;
  const CurlLibrary* api = curlLibrary();
  if (!api) {
    response.error = "libcurl (libcurl.so.4) cannot be loaded";
    return response;
  }
  std::unique_ptr<CURL, decltype(api->cleanup)> curl(api->init(), api->cleanup);
  if (!curl) {
    response.error = "cannot start a request";
    return response;
  }
  curl_slist* list = nullptr;
  for (const auto& [name, value] : headers) list = api->slistAppend(list, (name + ": " + value).c_str());
  std::unique_ptr<curl_slist, decltype(api->slistFreeAll)> headerList(list, api->slistFreeAll);
  const long timeoutMs = static_cast<long>(timeoutSeconds * 1000);
  CURL* handle = curl.get();
  api->setopt(handle, CURLOPT_URL, url.c_str());
  api->setopt(handle, CURLOPT_HTTPHEADER, headerList.get());
  api->setopt(handle, CURLOPT_TIMEOUT_MS, timeoutMs);
  api->setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
  api->setopt(handle, CURLOPT_NOSIGNAL, 1L);        // safe off the main thread
  api->setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);  // the bearer token never travels elsewhere
  api->setopt(handle, CURLOPT_PROTOCOLS_STR, "https,http");
  api->setopt(handle, CURLOPT_WRITEFUNCTION, collect);
  api->setopt(handle, CURLOPT_WRITEDATA, &response.body);
  api->setopt(handle, CURLOPT_HEADERFUNCTION, header);
  api->setopt(handle, CURLOPT_HEADERDATA, &response.retryAfter);
  api->setopt(handle, CURLOPT_USERAGENT, "Tovami");
  const CURLcode result = api->perform(handle);
  if (result != CURLE_OK) {
    response.error = api->strerror(result);
    response.body.clear();
    return response;
  }
  api->getinfo(handle, CURLINFO_RESPONSE_CODE, &response.status);
  return response;
}

}  // namespace tovami::linux_backend
