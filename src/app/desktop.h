// What the widget's handlers ask of the desktop they run on. The Win32 adapter implements it
// over user32; the unit tests implement it with a fake desktop and a simulated clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace stormtally {

// Where SetWindowPos puts the main window in the stacking order.
enum class InsertAfter { TopMost, NoTopMost };

// SetWindowPos flag bits used by the always-on-top step.
constexpr unsigned kSwpNoSize = 0x1;
constexpr unsigned kSwpNoMove = 0x2;
constexpr unsigned kSwpNoActivate = 0x10;
constexpr unsigned kSwpShowWindow = 0x40;

// Message-box styles: OK button with the information or the critical icon.
constexpr int kMbIconInformation = 64;
constexpr int kMbIconCritical = 16;

class Desktop {
 public:
  virtual ~Desktop() = default;

  // Whether another copy of the program was already running when this one started. The
  // answer is fixed at start.
  virtual bool anotherInstanceAtStart() = 0;
  // SetWindowPos on the main window at position and size 0, with the given flag bits.
  virtual void setWindowPos(InsertAfter insertAfter, unsigned flags) = 0;
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
  virtual void messageBox(const std::string& text, const std::string& title, int style) = 0;
  // A modal input prompt with OK and Cancel, its upper-left corner at a screen position in
  // twips. Returns the edited text on OK and the empty text on Cancel.
  virtual std::string inputBox(const std::string& prompt, const std::string& title,
                               const std::string& defaultText, int leftTwips, int topTwips) = 0;
  // The bytes of a file in the folder of the program's executable, or nothing when it is
  // missing or cannot be read.
  virtual std::optional<std::string> readFileBesideProgram(const std::string& name) = 0;
};

}  // namespace stormtally
