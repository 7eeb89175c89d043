#include "query/strike_request.h"

#include "protocol/wire_contract.h"
#include "query/count_text.h"

namespace stormtally {

std::optional<std::string> StrikeRequest::HttpGetText(const std::string& url) {
  HttpResponse response = http_.get(url);
  RequestOutcome& outcome = last_.emplace();
  outcome.status = response.status;
  outcome.failure = response.ok ? FailureKind::None : response.failure;
  if (response.ok) return std::move(response.body);
  // An adapter that failed without saying how still gave no answer worth showing.
  if (outcome.failure == FailureKind::None) outcome.failure = FailureKind::BrokenAnswer;
  outcome.serviceLine = serviceLine(response.body);
  outcome.systemError = response.systemError;
  return std::nullopt;
}

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

  // A failure of any kind shows "--", never a count: a widget that showed 0 while its
  // service is down would tell the user the sky is calm.
  std::optional<std::string> count;
  if (url.empty()) {
    last_.emplace().failure = FailureKind::NoAddress;
  } else if (std::optional<std::string> body = HttpGetText(url)) {
    count = countFromBody(*body);
    if (!count) {
      last_->failure = FailureKind::NotANumber;
      last_->serviceLine = serviceLine(*body);
    }
  }
  last_->endedAt = desktop_.localTimeText();
  c_.tstrikes.setCaption(count ? *count : std::string(kNoCount));
  if (!count) {
    std::string line = "no count for " + url + ": " +
                       failureReason(last_->failure, last_->status, last_->serviceLine, host_);
    if (last_->systemError) line += " (system error " + std::to_string(last_->systemError) + ")";
    desktop_.tellDebugger(line);
  }
  if (ControlObserver* screen = c_.observer()) screen->statusChanged();

  c_.Timer1.setEnabled(true);
}

}  // namespace stormtally
