// What the widget's handlers ask of the desktop they run on, in the widget's own terms. The
// Win32 adapter translates it to user32; the unit tests implement it with a fake desktop and
// a simulated clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/controls.h"

namespace stormtally {

// How a raise to the top of the always-on-top band treats the window: the desktop may make it
// the active window; or it leaves the active window, and the keyboard, where they are, and
// may also show the window.
enum class Raise { MayActivate, WithoutActivating, ShowWithoutActivating };

// A rectangle on the screen in pixels, right and bottom exclusive.
struct ScreenRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const ScreenRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

// What the user is doing, as the desktop tells programs that want to show themselves.
enum class UserState { Available, Busy, FullScreenGame, Presenting };

// The window in front, the one that holds the keyboard, as the always-on-top step sees it.
struct FrontWindow {
  bool exists = false;
  bool ownProgram = false;  // one of the widget's own windows
  bool shell = false;       // the desktop's background, which fills the monitor by nature
  ScreenRect rect;
  ScreenRect widgetMonitor;  // the whole monitor the widget lies on
  UserState user = UserState::Available;
};

// The icon of a message box.
enum class MessageKind { Information, Critical };

class Desktop {
 public:
  virtual ~Desktop() = default;

  // Whether another copy of the program was already running when this one started. The
  // answer is fixed at start.
  virtual bool anotherInstanceAtStart() = 0;
  // Puts the main window at the top of the always-on-top band, above every window outside
  // it, without moving or resizing it.
  virtual void raiseAboveAll(Raise how) = 0;
  // Takes the main window out of the always-on-top band, without moving or resizing it.
  virtual void dropFromAlwaysOnTop() = 0;
  // The window in front and the monitor the main window lies on.
  virtual FrontWindow frontWindow() = 0;
  // Puts the main window just below the window in front, without activating either.
  virtual void stepBehindFrontWindow() = 0;
  // Redraws the main window and its controls before returning.
  virtual void repaint() = 0;
  // Hands the current left-button press to the window manager as a press on a title bar,
  // so it moves the window with the mouse until the button is released.
  virtual void beginCaptionDrag() = 0;
  // Gives the keyboard focus to the text box `focus`.
  virtual void focusParkingBox() = 0;
  // Ends the program at once: no further handler runs. The real desktop never returns.
  virtual void endProgram() = 0;
  // The system's millisecond tick counter; wraps after 2^32 ms.
  virtual std::uint32_t tickCount() = 0;
  // A modal message box with an OK button. A CR in the text starts a new line.
  virtual void messageBox(const std::string& text, const std::string& title, MessageKind kind) = 0;
  // A modal input prompt with OK and Cancel, its upper-left corner at a screen position.
  // Returns the edited text on OK and the empty text on Cancel.
  virtual std::string inputBox(const std::string& prompt, const std::string& title,
                               const std::string& defaultText, TwipsPoint topLeft) = 0;
  // Whether the mouse pointer rests on the main window where it shows. A raise then would
  // only keep the window's tooltip from showing, once the window is on top already.
  virtual bool pointerRestsOnWindow() { return false; }
  // Whether the main window lies in the always-on-top band now; stepping behind a window
  // outside it takes it out.
  virtual bool onTopAlready() { return false; }
  // The local time of day as the user's settings write it.
  virtual std::string localTimeText() { return ""; }
  // A line for a debugger watching the program; nobody else sees it.
  virtual void tellDebugger(const std::string&) {}
  // The bytes of a file in the folder of the program's executable, or nothing when it is
  // missing or cannot be read.
  virtual std::optional<std::string> readFileBesideProgram(const std::string& name) = 0;
};

}  // namespace stormtally
