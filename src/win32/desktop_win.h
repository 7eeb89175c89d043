// The desktop the widget's handlers ask of, on Win32: the main window's place in the stacking
// order, repaint, drag and focus; the dialogs; the file beside the program; the clock.
#pragma once

#include "core/desktop.h"
#include "win32/window_win.h"

namespace stormtally {

class WinDesktop final : public Desktop {
 public:
  WinDesktop(MainWindow& window, bool anotherInstanceAtStart)
      : window_(window), anotherInstance_(anotherInstanceAtStart) {}

  bool anotherInstanceAtStart() override { return anotherInstance_; }
  void raiseAboveAll(Raise how) override;
  void dropFromAlwaysOnTop() override;
  FrontWindow frontWindow() override;
  void stepBehindFrontWindow() override;
  void repaint() override;
  void beginCaptionDrag() override { window_.beginCaptionDrag(); }
  void focusParkingBox() override;
  void endProgram() override { ExitProcess(0); }
  std::uint32_t tickCount() override { return GetTickCount(); }
  void messageBox(const std::string& text, const std::string& title, MessageKind kind) override;
  std::string inputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText, TwipsPoint topLeft) override;
  bool pointerRestsOnWindow() override;
  bool onTopAlready() override;
  std::string localTimeText() override;
  void tellDebugger(const std::string& line) override;
  std::optional<std::string> readFileBesideProgram(const std::string& name) override;

 private:
  MainWindow& window_;
  bool anotherInstance_;
};

}  // namespace stormtally
