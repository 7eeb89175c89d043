#include "viewer/viewer_scan.h"

#include "viewer/title_rule.h"

namespace stormtally {

void ViewerScan::Timer2_Timer() {
  if (!lifecycle_.singleInstanceTest()) return;
  lifecycle_.alwaysOnTopStep();
  c_.process.setText("");
  windows_.enumerate([this](WindowRef window) { CheckWindowTitle(window); });
}

bool ViewerScan::CheckWindowTitle(WindowRef window) {
  std::string title = windows_.title(window);
  // A window without a title (or one that is gone) leaves `process` untouched.
  if (title.empty()) return true;
  // `process` holds text up to its first NUL, as a text box does.
  if (const std::size_t nul = title.find('\0'); nul != std::string::npos) title.resize(nul);
  c_.process.setText(std::move(title));
  if (std::optional<std::string> site = siteFromTitle(c_.process.text())) {
    c_.Nexrad_Site.setText(std::move(*site));
  }
  c_.process.setText("");
  return true;
}

}  // namespace stormtally
