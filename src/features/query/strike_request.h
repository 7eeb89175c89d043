// The strike-count request: builds the address for the current mode, fetches the count and
// shows it, then starts the first wait of the refresh cycle.
#pragma once

#include <optional>
#include <string>

#include "core/controls.h"
#include "core/desktop.h"
#include "core/http_client.h"
#include "lifecycle/lifecycle.h"
#include "query/status_text.h"

namespace stormtally {

class StrikeRequest {
 public:
  StrikeRequest(Controls& controls, Desktop& desktop, Lifecycle& lifecycle, HttpClient& http,
                std::string serviceBase)
      : c_(controls),
        desktop_(desktop),
        lifecycle_(lifecycle),
        http_(http),
        serviceBase_(std::move(serviceBase)),
        host_(hostOf(serviceBase_)) {}

  void Command1_Click();
  // One blocking GET; the body of a 2xx answer, or nothing on any failure, whose kind it
  // keeps as the outcome of the request.
  std::optional<std::string> HttpGetText(const std::string& url);

  // How the last request ended; nothing before the first.
  const std::optional<RequestOutcome>& lastOutcome() const { return last_; }
  const std::string& serviceHost() const { return host_; }

 private:
  Controls& c_;
  Desktop& desktop_;
  Lifecycle& lifecycle_;
  HttpClient& http_;
  std::string serviceBase_;
  std::string host_;
  std::optional<RequestOutcome> last_;
};

}  // namespace stormtally
