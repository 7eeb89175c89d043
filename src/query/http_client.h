// One blocking HTTPS GET. Implemented over WinHTTP on Windows and faked in the unit tests.
#pragma once

#include <string>

namespace stormtally {

struct HttpResponse {
  bool ok = false;     // a 2xx answer whose whole body arrived within the bounds below
  int status = 0;      // HTTP status, 0 when no answer arrived
  std::string body;    // the body as sent, when ok
  std::string reason;  // why it failed, for diagnostics only
};

// Bounds every request keeps, whatever the platform.
constexpr int kRequestTimeoutMs = 15000;  // resolve, connect, TLS and response, in all
constexpr std::size_t kMaxBodyBytes = 64 * 1024;

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // Fetches an absolute https address. Certificates are always verified, a redirect from
  // https to http is refused, and the system's proxy settings apply.
  virtual HttpResponse get(const std::string& url) = 0;
};

}  // namespace stormtally
