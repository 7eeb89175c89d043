// The strike-count request: builds the address for the current mode, fetches the count and
// shows it, then starts the first wait of the refresh cycle.
#pragma once

#include <optional>
#include <string>

#include "app/controls.h"
#include "app/desktop.h"
#include "app/lifecycle.h"
#include "query/http_client.h"

namespace stormtally {

class StrikeRequest {
 public:
  StrikeRequest(Controls& controls, Desktop& desktop, Lifecycle& lifecycle, HttpClient& http,
                std::string serviceBase)
      : c_(controls),
        desktop_(desktop),
        lifecycle_(lifecycle),
        http_(http),
        serviceBase_(std::move(serviceBase)) {}

  void Command1_Click();
  // One blocking GET; the body of a 2xx answer, or nothing on any failure.
  std::optional<std::string> HttpGetText(const std::string& url);

 private:
  Controls& c_;
  Desktop& desktop_;
  Lifecycle& lifecycle_;
  HttpClient& http_;
  std::string serviceBase_;
};

}  // namespace stormtally
