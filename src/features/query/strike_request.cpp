#include "query/strike_request.h"

#include "protocol/wire_contract.h"
#include "query/count_text.h"

namespace stormtally {

void StrikeRequest::Command1_Click() {
  if (!lifecycle_.singleInstanceTest()) return;
  lifecycle_.alwaysOnTopStep();
  desktop_.focusParkingBox();
  desktop_.repaint();

  // The mode flag picks the coordinates; any value but 0 or 1 leaves no address to ask.
  std::string url;
  if (c_.USR.value() == 0) {
    url = wire::countUrl(serviceBase_, c_.ID_LAT.text(), c_.ID_LON.text(), c_.ID_DISTANCE.text());
  }
  if (c_.USR.value() == 1) {
    url =
        wire::countUrl(serviceBase_, c_.USR_LAT.text(), c_.USR_LON.text(), c_.USR_DISTANCE.text());
  }
  if (!url.empty()) return HttpGetText(url);

  // Nothing to ask: a request still out is ended all the same, as by any new request.
  http_.cancel();
  ++asked_;
  asking_ = false;
  last_.emplace().failure = FailureKind::NoAddress;
  showCount(url, std::nullopt);
}

void StrikeRequest::HttpGetText(const std::string& url) {
  const std::uint64_t number = ++asked_;
  asking_ = true;
  statusChanged();
  http_.start(url, [this, number, url](HttpResponse response) {
    HttpGetTextDone(number, url, std::move(response));
  });
}

void StrikeRequest::HttpGetTextDone(std::uint64_t number, const std::string& url,
                                    HttpResponse response) {
  // An answer to an earlier request, or one that arrives after the program has ended, changes
  // nothing: the desktop should not deliver them, and if it does they land here.
  if (number != asked_ || !asking_ || lifecycle_.ended()) return;
  asking_ = false;
  RequestOutcome& outcome = last_.emplace();
  outcome.status = response.status;
  if (!response.ok) {
    // An adapter that failed without saying how still gave no answer worth showing.
    outcome.failure =
        response.failure == FailureKind::None ? FailureKind::BrokenAnswer : response.failure;
    outcome.serviceLine = serviceLine(response.body);
    outcome.systemError = response.systemError;
    return showCount(url, std::nullopt);
  }
  std::optional<std::string> count = countFromBody(response.body);
  if (!count) {
    outcome.failure = FailureKind::NotANumber;
    outcome.serviceLine = serviceLine(response.body);
  }
  showCount(url, std::move(count));
}

// A failure of any kind shows "--", never a count: a widget that showed 0 while its service is
// down would tell the user the sky is calm.
void StrikeRequest::showCount(const std::string& url, std::optional<std::string> count) {
  last_->endedAt = desktop_.localTimeText();
  c_.tstrikes.setCaption(count ? *count : std::string(kNoCount));
  if (!count) {
    std::string line = "no count for " + url + ": " +
                       failureReason(last_->failure, last_->status, last_->serviceLine, host_);
    if (last_->systemError) line += " (system error " + std::to_string(last_->systemError) + ")";
    desktop_.tellDebugger(line);
  }
  statusChanged();
  c_.Timer1.setEnabled(true);
}

void StrikeRequest::statusChanged() {
  if (ControlObserver* screen = c_.observer()) screen->statusChanged();
}

}  // namespace stormtally
