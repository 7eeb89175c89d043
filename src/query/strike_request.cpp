#include "query/strike_request.h"

#include "query/count_text.h"
#include "query/request_url.h"

namespace stormtally {

std::optional<std::string> StrikeRequest::HttpGetText(const std::string& url) {
  HttpResponse response = http_.get(url);
  if (!response.ok) return std::nullopt;
  return std::move(response.body);
}

void StrikeRequest::Command1_Click() {
  if (!lifecycle_.singleInstanceTest()) return;
  lifecycle_.alwaysOnTopStep();
  desktop_.focusParkingBox();
  desktop_.repaint();

  // The mode flag picks the coordinates; any value but 0 or 1 leaves no address to ask.
  std::string url;
  if (c_.USR.value() == 0) {
    url = buildRequestUrl(serviceBase_, c_.ID_LAT.text(), c_.ID_LON.text(), c_.ID_DISTANCE.text());
  }
  if (c_.USR.value() == 1) {
    url =
        buildRequestUrl(serviceBase_, c_.USR_LAT.text(), c_.USR_LON.text(), c_.USR_DISTANCE.text());
  }

  // A failure of any kind shows "--", never a count: a widget that showed 0 while its
  // service is down would tell the user the sky is calm.
  std::optional<std::string> count;
  if (!url.empty()) {
    if (std::optional<std::string> body = HttpGetText(url)) count = countFromBody(*body);
  }
  c_.tstrikes.setCaption(count ? *count : std::string(kNoCount));

  c_.Timer1.setEnabled(true);
}

}  // namespace stormtally
