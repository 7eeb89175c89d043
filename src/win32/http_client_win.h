// The strike-count fetch over WinHTTP.
#pragma once

#include "core/http_client.h"

namespace stormtally {

class WinHttpClient final : public HttpClient {
 public:
  HttpResponse get(const std::string& url) override;
};

}  // namespace stormtally
