#include "query/refresh_cycle.h"

namespace stormtally {

void RefreshCycle::Timer1_Timer() {
  lifecycle_.alwaysOnTopStep();
  c_.Timer1.setEnabled(false);
  c_.update.setEnabled(true);
}

void RefreshCycle::update_Timer() {
  lifecycle_.alwaysOnTopStep();
  c_.Timer1.setEnabled(false);
  c_.update.setEnabled(false);
  c_.switch_.press();
}

}  // namespace stormtally
