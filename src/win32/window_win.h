// The widget's main window on the Win32 desktop: it shows the controls of the widget's table,
// mirrors their changes on screen and turns window messages into the widget's events.
#pragma once

#include <map>
#include <optional>
#include <vector>

#include "core/controls.h"
#include "widget/widget.h"
#include "win32/handles_win.h"
#include "win32/status_tip_win.h"

namespace stormtally {

class MainWindow final : public ControlObserver {
 public:
  explicit MainWindow(HINSTANCE instance) : instance_(instance) {}
  ~MainWindow() override { close(); }
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window and its controls for the widget, hidden, and starts the timers that
  // run from start-up. Returns false when the window cannot be made.
  bool create(Widget& widget);
  // Destroys the window; its destruction reaches the widget as an unload.
  void close();
  // Dispatches the thread's messages until the program ends; Tab moves between the
  // keyboard-reachable controls, as in a dialog.
  int runMessageLoop();

  HWND hwnd() const { return hwnd_; }
  HWND child(ControlId id) const;
  UINT dpi() const { return dpi_; }
  // The window manager's move loop takes the button's release from here on.
  void beginCaptionDrag();

  // --- ControlObserver ---
  void textChanged(ControlId id) override;
  void visibleChanged(ControlId id) override;
  void colourChanged(ControlId id) override;
  void timerChanged(ControlId id) override;
  void statusChanged() override;

 private:
  struct Child {
    ControlId id;
    HWND hwnd;
    UniqueGdiObject font;
  };

  static LRESULT CALLBACK windowProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK siteBoxProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handleSiteBox(HWND site, UINT message, WPARAM wParam, LPARAM lParam);

  void createChildren();
  void applyDpi(UINT dpi);
  void applyFonts();
  HBRUSH brush(Rgb colour);
  void paintFrame();
  void drawLabel(const DRAWITEMSTRUCT& item);
  std::optional<ControlId> childId(HWND h) const;
  std::optional<ControlId> labelAt(LPARAM lParam) const;
  void mouseButton(int button, bool down, LPARAM lParam);
  void activated(bool active);
  bool overStatusTarget(LPARAM lParam) const;

  HINSTANCE instance_;
  Widget* widget_ = nullptr;  // cleared when the window is gone
  HWND hwnd_ = nullptr;
  std::vector<Child> children_;  // windows owned by the main window
  WNDPROC editProc_ = nullptr;
  UINT dpi_ = 96;
  std::map<Rgb, UniqueGdiObject> brushes_;
  std::optional<ControlId> pressed_;  // the label a button went down on
  bool mirroringText_ = false;
  HWND lastFocus_ = nullptr;
  StatusTip statusTip_;  // over the caption and the count
};

}  // namespace stormtally
