#include "app/controls.h"

#include <stdexcept>

namespace stormtally {

const char* controlName(ControlId id) {
  switch (id) {
    case ControlId::USR_DISTANCE:
      return "USR_DISTANCE";
    case ControlId::USR:
      return "USR";
    case ControlId::USR_LON:
      return "USR_LON";
    case ControlId::USR_LAT:
      return "USR_LAT";
    case ControlId::ID_DISTANCE:
      return "ID_DISTANCE";
    case ControlId::Timer3:
      return "Timer3";
    case ControlId::switch_:
      return "switch";
    case ControlId::update:
      return "update";
    case ControlId::process:
      return "process";
    case ControlId::Timer2:
      return "Timer2";
    case ControlId::Timer1:
      return "Timer1";
    case ControlId::ID_LON:
      return "ID_LON";
    case ControlId::ID_LAT:
      return "ID_LAT";
    case ControlId::Nexrad_Site:
      return "Nexrad_Site";
    case ControlId::Command1:
      return "Command1";
    case ControlId::focus:
      return "focus";
    case ControlId::CloseApp:
      return "CloseApp";
    case ControlId::Label2:
      return "Label2";
    case ControlId::tstrikes:
      return "tstrikes";
    case ControlId::Shape1:
      return "Shape1";
    case ControlId::off:
      return "off";
    case ControlId::Label1:
      return "Label1";
  }
  return "?";
}

void TextBox::setText(std::string text) {
  if (text == text_) return;
  text_ = std::move(text);
  if (observer()) observer()->textChanged(id());
}

void TextBox::setVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  if (observer()) observer()->visibleChanged(id());
}

void Label::setCaption(std::string caption) {
  if (caption == caption_) return;
  caption_ = std::move(caption);
  if (observer()) observer()->textChanged(id());
}

void Label::setForeColour(Rgb colour) {
  if (colour == foreColour_) return;
  foreColour_ = colour;
  if (observer()) observer()->colourChanged(id());
}

void Timer::setEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (observer()) observer()->timerChanged(id());
}

void Controls::setObserver(ControlObserver* o) {
  for (Control* c : std::initializer_list<Control*>{
           &USR_DISTANCE, &USR,     &USR_LON,  &USR_LAT, &ID_DISTANCE, &Timer3, &switch_,
           &update,       &process, &Timer2,   &Timer1,  &ID_LON,      &ID_LAT, &Nexrad_Site,
           &Command1,     &focus,   &CloseApp, &Label2,  &tstrikes,    &off,    &Label1}) {
    c->setObserver(o);
  }
}

Timer& Controls::timer(ControlId id) {
  switch (id) {
    case ControlId::Timer1:
      return Timer1;
    case ControlId::Timer2:
      return Timer2;
    case ControlId::Timer3:
      return Timer3;
    case ControlId::update:
      return update;
    default:
      throw std::invalid_argument("not a timer");
  }
}

}  // namespace stormtally
