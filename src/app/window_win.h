// The widget's main window on the Win32 desktop. It implements the desktop the core asks of,
// mirrors the controls on screen, and turns window messages into the core's events.
#pragma once

#include <map>
#include <optional>

#include "app/controls.h"
#include "app/desktop.h"
#include "app/handles_win.h"
#include "app/widget.h"

namespace stormtally {

class MainWindow final : public Desktop, public ControlObserver {
 public:
  MainWindow(HINSTANCE instance, bool anotherInstanceAtStart);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window and its controls for the widget, hidden, and starts the timers that
  // run from start-up. Returns false when the window cannot be made.
  bool create(Widget& widget);
  HWND hwnd() const { return window_.get(); }
  // Dispatches the thread's messages until the program ends; Tab moves between the
  // keyboard-reachable controls, as in a dialog.
  int runMessageLoop();

  // --- Desktop ---
  bool anotherInstanceAtStart() override { return anotherInstance_; }
  void setWindowPos(InsertAfter insertAfter, unsigned flags) override;
  void repaint() override;
  void beginCaptionDrag() override;
  void focusParkingBox() override;
  void endProgram() override;
  std::uint32_t tickCount() override { return GetTickCount(); }
  void messageBox(const std::string& text, const std::string& title, int style) override;
  std::string inputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText, int leftTwips, int topTwips) override;
  std::optional<std::string> readFileBesideProgram(const std::string& name) override;

  // --- ControlObserver ---
  void textChanged(ControlId id) override;
  void visibleChanged(ControlId id) override;
  void colourChanged(ControlId id) override;
  void timerChanged(ControlId id) override;

 private:
  static LRESULT CALLBACK windowProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK siteBoxProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handleSiteBox(UINT message, WPARAM wParam, LPARAM lParam);

  void createChildren();
  void applyDpi(UINT dpi);
  void makeFonts();
  void paint();
  const Label* labelFor(HWND h) const;
  void drawLabel(const DRAWITEMSTRUCT& item);
  HWND child(ControlId id) const;
  std::optional<ControlId> labelAt(LPARAM lParam) const;
  void mouseButton(int button, bool down, LPARAM lParam);

  HINSTANCE instance_;
  bool anotherInstance_;
  Widget* widget_ = nullptr;
  UniqueWindow window_;
  std::map<ControlId, HWND> children_;  // owned by the main window
  WNDPROC editProc_ = nullptr;
  UINT dpi_ = 96;
  UniqueGdiObject captionFont_, countFont_, siteFont_, defaultFont_;
  UniqueGdiObject navyBrush_;
  std::optional<ControlId> pressed_;  // the label a button went down on
  bool mirroringText_ = false;
  HWND lastFocus_ = nullptr;
};

}  // namespace stormtally
