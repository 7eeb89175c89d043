#include "query/strike_request.h"

#include "protocol/area_detail.h"
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
  const bool custom = c_.USR.value() == 1;
  askedRadius_ = custom ? c_.USR_DISTANCE.text() : c_.ID_DISTANCE.text();
  const std::optional<double> radius = wire::readNumber(askedRadius_);
  askedAllClear_ = custom && radius && *radius <= kAllClearRadiusMiles;
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
  // Every request asks for the extras beside the count; a service that knows only the count
  // ignores the field.
  http_.start(url, std::string(wire::kAskDetail), [this, number, url](HttpResponse response) {
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
  outcome.radius = askedRadius_;
  outcome.allClear = askedAllClear_;
  answeredAt_ = desktop_.tickCount();
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
  } else if (const std::optional<double> n = wire::readNumber(*count); n && *n >= 0) {
    outcome.detail = wire::readDetailFields(response.headers, static_cast<std::uint64_t>(*n));
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
  // Only a count with the extras of a place in thunder range counts down; a failure shows no
  // all-clear at all, since the service may be down while lightning strikes.
  c_.allClear.setEnabled(last_->detail && last_->allClear && allClearLeft(*last_->detail, 0) > 0);
  statusChanged();
  c_.Timer1.setEnabled(true);
}

std::int64_t StrikeRequest::secondsSinceAnswer() const {
  return last_ ? static_cast<std::int64_t>((desktop_.tickCount() - answeredAt_) / 1000) : 0;
}

void StrikeRequest::allClear_Timer() {
  if (!last_ || !last_->detail || allClearLeft(*last_->detail, secondsSinceAnswer()) == 0)
    c_.allClear.setEnabled(false);
  statusChanged();
}

void StrikeRequest::statusChanged() {
  if (ControlObserver* screen = c_.observer()) screen->statusChanged();
}

}  // namespace stormtally
