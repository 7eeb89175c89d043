#include "location/custom_location.h"

#include <limits>

#include "location/number_text.h"

namespace stormtally {
namespace {

constexpr const char* kMessageTitle = " Stormtally";
constexpr const char* kPromptTitle = " Custom Location";
constexpr double kMinRadius = 1;
constexpr double kMaxRadius = 248;

// The radius text as a number. The text of a double near the top of its range, rounded to 15
// digits, reads back as beyond the range: such a radius is huge, not absent.
double radiusValue(const std::string& text) {
  if (std::optional<double> value = answerValue(text)) return *value;
  const double huge = std::numeric_limits<double>::max();
  return !text.empty() && text[0] == '-' ? -huge : huge;
}

}  // namespace

void CustomLocation::Label1_MouseUp(int button) {
  if (button != kRightButton) return;
  // The stamp is kept locally: a release seen while a dialog of the switch is open must not
  // change what becomes the previous stamp.
  const std::int32_t stamp = static_cast<std::int32_t>(desktop_.tickCount());
  c_.currentRightUp = stamp;
  const std::uint32_t interval =
      static_cast<std::uint32_t>(stamp) - static_cast<std::uint32_t>(c_.previousRightUp);
  if (rightUpRecorded_ && interval < kDoubleClickMs) {
    if (c_.USR.value() == 0) {
      switchOn();
    } else {
      switchOff();
    }
  }
  c_.previousRightUp = stamp;
  rightUpRecorded_ = true;
}

std::optional<std::string> CustomLocation::ask(const char* prompt) {
  const std::string answer = desktop_.inputBox(prompt, kPromptTitle, "0", kPromptAt);
  const std::optional<double> value = answerValue(answer);
  if (!value) return std::nullopt;
  return numberText(*value);
}

void CustomLocation::switchOn() {
  desktop_.messageBox(
      "Custom Location is now ON.\r\rInput Latitude & Longitude of the custom location and "
      "distance.\r\rDistance is the search radius in miles.",
      kMessageTitle, MessageKind::Information);
  c_.Timer1.setEnabled(false);
  c_.Timer2.setEnabled(false);
  c_.update.setEnabled(false);
  c_.USR.setValue(1);

  // A number beyond the range of a double counts as no number at all.
  c_.USR_LAT.setText(ask("Latitude").value_or("0"));
  c_.USR_LON.setText(ask("Longitude").value_or("0"));
  c_.USR_DISTANCE.setText(ask("Distance in Miles").value_or("0"));

  if (radiusValue(c_.USR_DISTANCE.text()) < kMinRadius) c_.USR_DISTANCE.setText("10");
  if (radiusValue(c_.USR_DISTANCE.text()) > kMaxRadius) c_.USR_DISTANCE.setText("248");

  c_.Nexrad_Site.setVisible(false);
  c_.Command1.press();
}

void CustomLocation::switchOff() {
  const std::string site = c_.Nexrad_Site.text();
  desktop_.messageBox(
      "Custom Location is now OFF.\r\rStormtally will return to default @ " + site + ".",
      kMessageTitle, MessageKind::Critical);
  c_.USR.setValue(0);
  // The message promises a return to the radar site, so the widget follows the viewer again.
  c_.Timer2.setEnabled(true);
  c_.Command1.press();
}

void CustomLocation::off_Click() {
  c_.Nexrad_Site.setVisible(true);
  desktop_.repaint();
}

}  // namespace stormtally
