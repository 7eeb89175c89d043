// widget_variant: the widget as stormtally.exe runs it (same window, controls, handlers, timers
// and message loop), with parts of its once-a-second work switched off, to tell apart what
// the idle widget spends its CPU on:
//
//   widget_variant.exe [--no-topmost] [--no-scan]
//
//   --no-topmost  after start-up the always-on-top step moves nothing: SetWindowPos is not
//                 called (start-up still shows the window above the others, as the widget does)
//   --no-scan     the viewer scan enumerates no windows (Timer2 still ticks and still takes the
//                 always-on-top step)
// Without switches it does what stormtally.exe does. It is a measuring tool only: it uses its
// own single-instance name, so it runs beside a real widget.
#include <cstring>

#include "widget/widget.h"
#include "widget/widget_host.h"
#include "win32/desktop_win.h"
#include "win32/handles_win.h"
#include "win32/http_client_win.h"
#include "win32/window_titles_win.h"
#include "win32/window_win.h"

namespace {

using namespace stormtally;

// Hands every call to the widget's own desktop, except the always-on-top step's raises once
// start-up is over, when asked to.
class VariantDesktop final : public Desktop {
 public:
  VariantDesktop(MainWindow& window, bool anotherInstance, bool moveAfterStart)
      : real_(window, anotherInstance), moveAfterStart_(moveAfterStart) {}
  void startUpDone() { started_ = true; }

  bool anotherInstanceAtStart() override { return real_.anotherInstanceAtStart(); }
  void raiseAboveAll(Raise how) override {
    if (started_ && !moveAfterStart_) return;
    real_.raiseAboveAll(how);
  }
  void dropFromAlwaysOnTop() override { real_.dropFromAlwaysOnTop(); }
  FrontWindow frontWindow() override { return real_.frontWindow(); }
  void stepBehindFrontWindow() override { real_.stepBehindFrontWindow(); }
  bool pointerRestsOnWindow() override { return real_.pointerRestsOnWindow(); }
  bool onTopAlready() override { return real_.onTopAlready(); }
  std::string localTimeText() override { return real_.localTimeText(); }
  void tellDebugger(const std::string& line) override { real_.tellDebugger(line); }
  void repaint() override { real_.repaint(); }
  void beginCaptionDrag() override { real_.beginCaptionDrag(); }
  void focusParkingBox() override { real_.focusParkingBox(); }
  void endProgram() override { real_.endProgram(); }
  std::uint32_t tickCount() override { return real_.tickCount(); }
  void messageBox(const std::string& text, const std::string& title, MessageKind kind) override {
    real_.messageBox(text, title, kind);
  }
  std::string inputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText, TwipsPoint topLeft) override {
    return real_.inputBox(prompt, title, defaultText, topLeft);
  }
  std::optional<std::string> readFileBesideProgram(const std::string& name) override {
    return real_.readFileBesideProgram(name);
  }

 private:
  WinDesktop real_;
  bool moveAfterStart_;
  bool started_ = false;
};

// The desktop's windows, or none at all when asked to.
class VariantTitles final : public WindowTitles {
 public:
  explicit VariantTitles(bool scan) : scan_(scan) {}
  void enumerate(const std::function<void(WindowRef)>& visit) override {
    if (scan_) real_.enumerate(visit);
  }
  std::string title(WindowRef window) override { return real_.title(window); }

 private:
  WinWindowTitles real_;
  bool scan_;
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const char* const command = GetCommandLineA();
  const bool topmost = !std::strstr(command, "--no-topmost");
  const bool scan = !std::strstr(command, "--no-scan");

  UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, L"Local\\Stormtally.WidgetVariant"));
  const bool anotherInstance = mutex && GetLastError() == ERROR_ALREADY_EXISTS;

  MainWindow window(instance);
  VariantDesktop desktop(window, anotherInstance, topmost);
  WinHttpClient http(instance);
  VariantTitles titles(scan);
  WindowedWidget<MainWindow, Widget> widget(window, desktop, http, titles,
                                            "https://localhost:48443");
  if (!widget.open()) return 1;
  desktop.startUpDone();

  return window.runMessageLoop();
}
