// The widget's controls. They hold the program's whole working state as text, exactly as
// written into them; the desktop mirrors the visible ones through a ControlObserver.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace stormtally {

// Every control of the main window, in the order the window holds them (top of the stack
// first).
enum class ControlId {
  USR_DISTANCE,
  USR,
  USR_LON,
  USR_LAT,
  ID_DISTANCE,
  Timer3,
  switch_,
  update,
  process,
  Timer2,
  Timer1,
  ID_LON,
  ID_LAT,
  Nexrad_Site,
  Command1,
  focus,
  CloseApp,
  Label2,
  tstrikes,
  Shape1,
  off,
  Label1,
};

const char* controlName(ControlId id);

// Colours as 24-bit values in blue-green-red order, as the desktop stores them.
using Rgb = std::uint32_t;
constexpr Rgb kNavy = 0x800000;
constexpr Rgb kWhite = 0xFFFFFF;
constexpr Rgb kGrey = 0x808080;
constexpr Rgb kLightGrey = 0xE0E0E0;

// Told whenever a control changes in a way the screen or the timers must follow.
class ControlObserver {
 public:
  virtual ~ControlObserver() = default;
  virtual void textChanged(ControlId) {}
  virtual void visibleChanged(ControlId) {}
  virtual void colourChanged(ControlId) {}
  virtual void timerChanged(ControlId) {}
};

class Control {
 public:
  explicit Control(ControlId id) : id_(id) {}
  ControlId id() const { return id_; }
  void setObserver(ControlObserver* observer) { observer_ = observer; }

 protected:
  ControlObserver* observer() const { return observer_; }

 private:
  ControlId id_;
  ControlObserver* observer_ = nullptr;
};

class TextBox : public Control {
 public:
  TextBox(ControlId id, std::string text) : Control(id), text_(std::move(text)) {}
  const std::string& text() const { return text_; }
  void setText(std::string text);
  // Text the user typed into the on-screen box: stored without echoing it back.
  void takeUserText(std::string text) { text_ = std::move(text); }
  bool visible() const { return visible_; }
  void setVisible(bool visible);

 private:
  std::string text_;
  bool visible_ = true;
};

class Label : public Control {
 public:
  Label(ControlId id, std::string caption, Rgb foreColour)
      : Control(id), caption_(std::move(caption)), foreColour_(foreColour) {}
  const std::string& caption() const { return caption_; }
  void setCaption(std::string caption);
  Rgb foreColour() const { return foreColour_; }
  void setForeColour(Rgb colour);

 private:
  std::string caption_;
  Rgb foreColour_;
};

class CheckBox : public Control {
 public:
  explicit CheckBox(ControlId id) : Control(id) {}
  int value() const { return value_; }
  void setValue(int value) { value_ = value; }

 private:
  int value_ = 0;
};

// Switching a stopped timer on starts a full interval; switching on a running timer
// changes nothing, so its interval is not restarted.
class Timer : public Control {
 public:
  Timer(ControlId id, int intervalMs, bool enabled)
      : Control(id), intervalMs_(intervalMs), enabled_(enabled) {}
  int intervalMs() const { return intervalMs_; }
  bool enabled() const { return enabled_; }
  void setEnabled(bool enabled);

 private:
  int intervalMs_;
  bool enabled_;
};

// Pressing a button runs its click handler at once, nested in the caller.
class Button : public Control {
 public:
  using Control::Control;
  void onClick(std::function<void()> handler) { handler_ = std::move(handler); }
  void press() const {
    if (handler_) handler_();
  }

 private:
  std::function<void()> handler_;
};

struct Controls {
  TextBox USR_DISTANCE{ControlId::USR_DISTANCE, "5"};
  CheckBox USR{ControlId::USR};
  TextBox USR_LON{ControlId::USR_LON, ""};
  TextBox USR_LAT{ControlId::USR_LAT, ""};
  TextBox ID_DISTANCE{ControlId::ID_DISTANCE, "128"};
  Timer Timer3{ControlId::Timer3, 2500, true};
  Button switch_{ControlId::switch_};
  Timer update{ControlId::update, 60000, false};
  TextBox process{ControlId::process, ""};
  Timer Timer2{ControlId::Timer2, 1000, true};
  Timer Timer1{ControlId::Timer1, 60000, false};
  TextBox ID_LON{ControlId::ID_LON, "-90.683"};
  TextBox ID_LAT{ControlId::ID_LAT, "38.699"};
  TextBox Nexrad_Site{ControlId::Nexrad_Site, "KLSX"};
  Button Command1{ControlId::Command1};
  TextBox focus{ControlId::focus, "Text1"};
  Label CloseApp{ControlId::CloseApp, "*", kNavy};
  Label Label2{ControlId::Label2, "*", kWhite};
  Label tstrikes{ControlId::tstrikes, "0000", kLightGrey};
  Label off{ControlId::off, "", kNavy};
  Label Label1{ControlId::Label1, "Lightning Count", kLightGrey};

  // Right-click tick pair: the tick count at the previous and the current release of the
  // right button over Label1.
  std::int32_t previousRightUp = 0;
  std::int32_t currentRightUp = 0;

  void setObserver(ControlObserver* observer);
  Timer& timer(ControlId id);
};

}  // namespace stormtally
