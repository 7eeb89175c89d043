// The strike-count request: builds the address for the current mode and asks for the count;
// when the answer is in, shows it and starts the first wait of the refresh cycle.
#pragma once

#include <cstdint>
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
  // No answer may reach a request that is gone.
  ~StrikeRequest() { http_.cancel(); }
  StrikeRequest(const StrikeRequest&) = delete;
  StrikeRequest& operator=(const StrikeRequest&) = delete;

  // Asks for the count of the current mode's location. The window stays live while the
  // service answers; the count, the debugger's line, the status and the first wait of the
  // refresh cycle follow when the answer is in.
  void Command1_Click();

  // How the last request ended; nothing before the first.
  const std::optional<RequestOutcome>& lastOutcome() const { return last_; }
  // Whether a request is out, its answer still to come.
  bool asking() const { return asking_; }
  // Seconds since the last answer came in, by the desktop's tick counter.
  std::int64_t secondsSinceAnswer() const;
  // The all-clear timer's tick: the status counts on, and the timer stops once it is clear.
  void allClear_Timer();
  const std::string& serviceHost() const { return host_; }

 private:
  // Starts one GET; its answer comes to HttpGetTextDone. A request still out is ended: only
  // the latest one's answer may change the count.
  void HttpGetText(const std::string& url);
  void HttpGetTextDone(std::uint64_t number, const std::string& url, HttpResponse response);
  // The steps that follow the answer: the count ("--" without one), the debugger's line, the
  // status, the first wait.
  void showCount(const std::string& url, std::optional<std::string> count);
  void statusChanged();

  Controls& c_;
  Desktop& desktop_;
  Lifecycle& lifecycle_;
  HttpClient& http_;
  std::string serviceBase_;
  std::string host_;
  std::optional<RequestOutcome> last_;
  std::uint64_t asked_ = 0;  // how many requests were started: the latest one's number
  bool asking_ = false;
  std::string askedRadius_;       // the radius of the latest request
  bool askedAllClear_ = false;    // whether it asked about a place of one's own in thunder range
  std::uint32_t answeredAt_ = 0;  // the tick count when the last answer came in
};

}  // namespace stormtally
