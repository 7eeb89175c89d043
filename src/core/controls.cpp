#include "core/controls.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace stormtally {
namespace {

// The fields and the control table disagree: a fault of the build that every test making the
// controls meets at once. The program names it and ends rather than run with a field missing.
[[noreturn]] void tableFault(const char* what, const char* name) {
  for (const char* part : {"control table fault: ", what, " ", name, "\n"})
    std::fputs(part, stderr);
  std::abort();
}

}  // namespace

Control::Control(Controls& owner, ControlId id, ControlKind kind) : owner_(owner), id_(id) {
  if (controlRow().kind != kind) tableFault("wrong kind of field:", controlRow().name);
  owner.byId_[static_cast<std::size_t>(id)] = this;
}

void Control::notify(void (ControlObserver::*change)(ControlId)) const {
  if (ControlObserver* o = owner_.observer()) (o->*change)(id_);
}

void TextBox::setText(std::string text) {
  if (text == text_) return;
  text_ = std::move(text);
  notify(&ControlObserver::textChanged);
}

void TextBox::setVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  notify(&ControlObserver::visibleChanged);
}

void Label::setCaption(std::string caption) {
  if (caption == caption_) return;
  caption_ = std::move(caption);
  notify(&ControlObserver::textChanged);
}

void Label::setForeColour(Rgb colour) {
  if (colour == foreColour_) return;
  foreColour_ = colour;
  notify(&ControlObserver::colourChanged);
}

void Timer::setEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  notify(&ControlObserver::timerChanged);
}

Controls::Controls() {
  for (const ControlSpec& row : kControlTable) {
    if (!byId_[static_cast<std::size_t>(row.id)]) {
      tableFault("no field for control", row.name);
    }
  }
}

void Controls::attach(ControlObserver* observer) {
  observer_ = observer;
  for (const ControlSpec& row : kControlTable) {
    if (row.kind == ControlKind::Timer && timer(row.id).enabled()) observer->timerChanged(row.id);
  }
}

Timer& Controls::timer(ControlId id) {
  if (controlRow(id).kind != ControlKind::Timer) tableFault("not a timer:", controlRow(id).name);
  return static_cast<Timer&>((*this)[id]);
}

}  // namespace stormtally
