#include "widget/widget.h"

namespace stormtally {

Widget::Widget(Desktop& desktop, HttpClient& http, WindowTitles& windows, std::string serviceBase)
    : lifecycle_(c_, desktop),
      request_(c_, desktop, lifecycle_, http, std::move(serviceBase)),
      cycle_(c_, lifecycle_),
      lookup_(c_, desktop),
      custom_(c_, desktop),
      scan_(c_, lifecycle_, windows) {
  c_.Command1.onClick([this] { request_.Command1_Click(); });
  c_.switch_.onClick([this] { lookup_.switch_Click(); });
}

std::string Widget::statusText() const {
  StatusFacts facts;
  if (c_.USR.value() == 1) {
    facts.place = customPlace(c_.USR_LAT.text(), c_.USR_LON.text());
    facts.radius = c_.USR_DISTANCE.text();
  } else {
    // A site the table lacks leaves the coordinates of the one before: say so.
    const bool looked = !lookup_.site().empty();
    const std::string& name = lookup_.siteName();
    facts.place = looked
                      ? sitePlace(lookup_.site(), name.empty() ? "(not in the site table)" : name)
                      : sitePlace(c_.Nexrad_Site.text(), "");
    facts.radius = c_.ID_DISTANCE.text();
  }
  facts.host = request_.serviceHost();
  facts.last = request_.lastOutcome();
  facts.asking = request_.asking();
  facts.secondsSinceAnswer = request_.secondsSinceAnswer();
  return stormtally::statusText(facts);
}

void Widget::activate() {
  // The always-on-top step can itself activate the window; one activation is one event.
  if (activating_) return;
  activating_ = true;
  whileRunning([&] { lifecycle_.Form_Activate(); });
  activating_ = false;
}

void Widget::timerTick(ControlId timer) {
  whileRunning([&] {
    // A tick that was already on its way when its timer was switched off is dropped.
    if (!c_.timer(timer).enabled()) return;
    switch (timer) {
      case ControlId::Timer1:
        cycle_.Timer1_Timer();
        break;
      case ControlId::update:
        cycle_.update_Timer();
        break;
      case ControlId::Timer2:
        scan_.Timer2_Timer();
        break;
      case ControlId::Timer3:
        lifecycle_.Timer3_Timer();
        break;
      case ControlId::allClear:
        request_.allClear_Timer();
        break;
      default:
        break;
    }
  });
}

}  // namespace stormtally
