// The widget's controls. They hold the program's whole working state as text, exactly as
// written into them; the desktop mirrors the ones it shows through a ControlObserver.
//
// Every control is one row of kControlTable: its name, kind, place, starting text, colours,
// font, tab place and, for timers, interval and starting state. The window, the layout and
// the fields below all read that table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace stormtally {

// Every control of the main window, in the order of kControlTable.
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
  allClear,
};
constexpr std::size_t kControlCount = 23;

// Mouse buttons as the handlers receive them.
constexpr int kLeftButton = 1;
constexpr int kRightButton = 2;
constexpr int kMiddleButton = 4;

// Colours as 24-bit values in blue-green-red order, as the desktop stores them.
using Rgb = std::uint32_t;
constexpr Rgb kNavy = 0x800000;
constexpr Rgb kWhite = 0xFFFFFF;
constexpr Rgb kGrey = 0x808080;
constexpr Rgb kLightGrey = 0xE0E0E0;
constexpr Rgb kSystemColour = 0xFF000000;  // the desktop's own colour for the role

// Positions and sizes in twips (1/1440 inch), the one unit the core places things in.
struct TwipsRect {
  int left, top, width, height;
};
struct TwipsPoint {
  int left, top;
};

// A font of the control's own; points 0 means the desktop's default font.
struct FontSpec {
  const char* face;
  int points;
  int weight;
};
constexpr FontSpec kSemibold12{"Segoe UI Semibold", 12, 600};
constexpr FontSpec kSemibold18{"Segoe UI Semibold", 18, 600};

enum class ControlKind { TextBox, CheckBox, Label, CommandButton, Timer, Shape };

struct ControlSpec {
  ControlId id;
  const char* name;
  ControlKind kind;
  const char* text = "";                           // text, caption; for a shape nothing
  TwipsRect rect{};                                // a timer has no place
  Rgb back = kSystemColour, fore = kSystemColour;  // a shape's line colour is `fore`
  FontSpec font{};
  int tabPlace = -1;
  int maxChars = 0;        // 0: no limit
  bool centred = false;    // text centred across the control
  bool ownWindow = false;  // a window of its own on the desktop; the rest are plain fields
  int intervalMs = 0;      // timers
  bool onAtStart = false;  // a timer running, a check box ticked

  constexpr ControlSpec colours(Rgb b, Rgb f) const {
    ControlSpec s = *this;
    s.back = b;
    s.fore = f;
    return s;
  }
  constexpr ControlSpec withFont(FontSpec f) const {
    ControlSpec s = *this;
    s.font = f;
    return s;
  }
  constexpr ControlSpec tab(int place) const {
    ControlSpec s = *this;
    s.tabPlace = place;
    return s;
  }
  constexpr ControlSpec limit(int chars) const {
    ControlSpec s = *this;
    s.maxChars = chars;
    return s;
  }
  constexpr ControlSpec centre() const {
    ControlSpec s = *this;
    s.centred = true;
    return s;
  }
  constexpr ControlSpec windowed() const {
    ControlSpec s = *this;
    s.ownWindow = true;
    return s;
  }
};

constexpr ControlSpec control(ControlId id, const char* name, ControlKind kind, const char* text,
                              TwipsRect rect) {
  return {id, name, kind, text, rect};
}
constexpr ControlSpec timer(ControlId id, const char* name, int intervalMs, bool on) {
  ControlSpec s{id, name, ControlKind::Timer, nullptr};
  s.intervalMs = intervalMs;
  s.onAtStart = on;
  return s;
}

namespace table {
using K = ControlKind;
using I = ControlId;

// The controls in the order the window holds them, which is also the stacking order, top
// first. Windows of their own lie above every label; those that take the keyboard do so in
// tab order.
inline constexpr ControlSpec kControlTable[] = {
    control(I::USR_DISTANCE, "USR_DISTANCE", K::TextBox, "5", {1800, 2040, 615, 285}).tab(16),
    control(I::USR, "USR", K::CheckBox, "User Defined Location", {120, 2520, 2055, 255}).tab(15),
    control(I::USR_LON, "USR_LON", K::TextBox, "", {960, 2040, 855, 285}).tab(14),
    control(I::USR_LAT, "USR_LAT", K::TextBox, "", {120, 2040, 855, 285}).tab(13),
    control(I::ID_DISTANCE, "ID_DISTANCE", K::TextBox, "128", {1800, 1560, 615, 375})
        .tab(12)
        .limit(3),
    timer(I::Timer3, "Timer3", 2500, true),
    control(I::switch_, "switch", K::CommandButton, "switch", {1440, 2880, 735, 495}).tab(8),
    timer(I::update, "update", 60000, false),
    control(I::process, "process", K::TextBox, "", {120, 5400, 495, 375}).tab(6),
    timer(I::Timer2, "Timer2", 1000, true),
    timer(I::Timer1, "Timer1", 60000, false),
    control(I::ID_LON, "ID_LON", K::TextBox, "-90.683", {960, 1560, 855, 375}).tab(4),
    control(I::ID_LAT, "ID_LAT", K::TextBox, "38.699", {120, 1560, 855, 375}).tab(3),
    control(I::Nexrad_Site, "Nexrad_Site", K::TextBox, "KLSX", {1750, 585, 735, 435})
        .colours(kNavy, kGrey)
        .withFont(kSemibold12)
        .tab(2)
        .limit(4)
        .centre()
        .windowed(),
    control(I::Command1, "Command1", K::CommandButton, "download strikes", {120, 2880, 1335, 495})
        .tab(1)
        .windowed(),
    control(I::focus, "focus", K::TextBox, "Text1", {0, 6960, 615, 495}).tab(0).windowed(),
    control(I::CloseApp, "CloseApp", K::Label, "*", {2280, 120, 135, 135})
        .colours(kNavy, kNavy)
        .tab(11)
        .centre()
        .windowed(),
    control(I::Label2, "Label2", K::Label, "*", {2280, 120, 15, 255})
        .colours(kNavy, kWhite)
        .tab(10)
        .centre()
        .windowed(),
    control(I::tstrikes, "tstrikes", K::Label, "0000", {600, 480, 1335, 495})
        .colours(kNavy, kLightGrey)
        .withFont(kSemibold18)
        .tab(9)
        .centre()
        .windowed(),
    control(I::Shape1, "Shape1", K::Shape, nullptr, {0, 0, 2535, 1095}).colours(kNavy, kWhite),
    control(I::off, "off", K::Label, "", {1560, 600, 615, 375})
        .colours(kNavy, kNavy)
        .tab(7)
        .windowed(),
    control(I::Label1, "Label1", K::Label, "Lightning Count", {240, 120, 2055, 495})
        .colours(kNavy, kLightGrey)
        .withFont(kSemibold12)
        .tab(5)
        .centre()
        .windowed(),
    // Counts the all-clear down in the status each second while it runs.
    timer(I::allClear, "allClear", 1000, false),
};
}  // namespace table
using table::kControlTable;

static_assert(std::size(kControlTable) == kControlCount);
constexpr bool tableFollowsIds() {
  for (std::size_t i = 0; i < kControlCount; ++i) {
    if (static_cast<std::size_t>(kControlTable[i].id) != i) return false;
  }
  return true;
}
static_assert(tableFollowsIds(), "kControlTable's rows follow ControlId");

constexpr const ControlSpec& controlRow(ControlId id) {
  return kControlTable[static_cast<std::size_t>(id)];
}
constexpr const char* controlName(ControlId id) {
  return controlRow(id).name;
}

// Told whenever a control changes in a way the screen or the timers must follow.
class ControlObserver {
 public:
  virtual ~ControlObserver() = default;
  virtual void textChanged(ControlId) {}
  virtual void visibleChanged(ControlId) {}
  virtual void colourChanged(ControlId) {}
  virtual void timerChanged(ControlId) {}
  // What the widget says about its count (Widget::statusText) may have changed.
  virtual void statusChanged() {}
};

class Controls;

class Control {
 public:
  ControlId id() const { return id_; }
  const ControlSpec& controlRow() const { return stormtally::controlRow(id_); }

 protected:
  // Takes its place in its owner's index; the table's row must be of the given kind.
  Control(Controls& owner, ControlId id, ControlKind kind);
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;
  void notify(void (ControlObserver::*change)(ControlId)) const;

 private:
  Controls& owner_;
  ControlId id_;
};

class TextBox : public Control {
 public:
  TextBox(Controls& owner, ControlId id)
      : Control(owner, id, ControlKind::TextBox), text_(controlRow().text) {}
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
  Label(Controls& owner, ControlId id)
      : Control(owner, id, ControlKind::Label),
        caption_(controlRow().text),
        foreColour_(controlRow().fore) {}
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
  CheckBox(Controls& owner, ControlId id)
      : Control(owner, id, ControlKind::CheckBox), value_(controlRow().onAtStart ? 1 : 0) {}
  int value() const { return value_; }
  void setValue(int value) { value_ = value; }

 private:
  int value_;
};

// Switching a stopped timer on starts a full interval; switching on a running timer
// changes nothing, so its interval is not restarted.
class Timer : public Control {
 public:
  Timer(Controls& owner, ControlId id)
      : Control(owner, id, ControlKind::Timer), enabled_(controlRow().onAtStart) {}
  int intervalMs() const { return controlRow().intervalMs; }
  bool enabled() const { return enabled_; }
  void setEnabled(bool enabled);

 private:
  bool enabled_;
};

// Pressing a button runs its click handler at once, nested in the caller.
class Button : public Control {
 public:
  Button(Controls& owner, ControlId id) : Control(owner, id, ControlKind::CommandButton) {}
  void onClick(std::function<void()> handler) { handler_ = std::move(handler); }
  void press() const {
    if (handler_) handler_();
  }

 private:
  std::function<void()> handler_;
};

// Drawn by the window; it has no state.
class Shape : public Control {
 public:
  Shape(Controls& owner, ControlId id) : Control(owner, id, ControlKind::Shape) {}
};

class Controls {
 public:
  Controls();
  Controls(const Controls&) = delete;
  Controls& operator=(const Controls&) = delete;

  void setObserver(ControlObserver* observer) { observer_ = observer; }
  // Hands the controls to the desktop that shows them: sets the observer and tells it of every
  // timer that is already running, so that it starts them.
  void attach(ControlObserver* observer);
  ControlObserver* observer() const { return observer_; }
  Control& operator[](ControlId id) { return *byId_[static_cast<std::size_t>(id)]; }
  const Control& operator[](ControlId id) const { return *byId_[static_cast<std::size_t>(id)]; }
  Timer& timer(ControlId id);

 private:
  friend class Control;
  // Declared before the controls, which fill it as they are made.
  std::array<Control*, kControlCount> byId_{};
  ControlObserver* observer_ = nullptr;

 public:
  TextBox USR_DISTANCE{*this, ControlId::USR_DISTANCE};
  CheckBox USR{*this, ControlId::USR};
  TextBox USR_LON{*this, ControlId::USR_LON};
  TextBox USR_LAT{*this, ControlId::USR_LAT};
  TextBox ID_DISTANCE{*this, ControlId::ID_DISTANCE};
  Timer Timer3{*this, ControlId::Timer3};
  Button switch_{*this, ControlId::switch_};
  Timer update{*this, ControlId::update};
  TextBox process{*this, ControlId::process};
  Timer Timer2{*this, ControlId::Timer2};
  Timer Timer1{*this, ControlId::Timer1};
  TextBox ID_LON{*this, ControlId::ID_LON};
  TextBox ID_LAT{*this, ControlId::ID_LAT};
  TextBox Nexrad_Site{*this, ControlId::Nexrad_Site};
  Button Command1{*this, ControlId::Command1};
  TextBox focus{*this, ControlId::focus};
  Label CloseApp{*this, ControlId::CloseApp};
  Label Label2{*this, ControlId::Label2};
  Label tstrikes{*this, ControlId::tstrikes};
  Shape Shape1{*this, ControlId::Shape1};
  Label off{*this, ControlId::off};
  Label Label1{*this, ControlId::Label1};
  Timer allClear{*this, ControlId::allClear};

  // Right-click tick pair: the tick count at the previous and the current release of the
  // right button over Label1.
  std::int32_t previousRightUp = 0;
  std::int32_t currentRightUp = 0;
};

}  // namespace stormtally
