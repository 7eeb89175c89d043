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

#include "app/handles_win.h"
#include "app/widget.h"
#include "app/window_win.h"
#include "query/http_client_win.h"
#include "viewer/window_titles_win.h"

namespace {

using namespace stormtally;

// Hands every call to the real main window, except the always-on-top step's SetWindowPos
// once start-up is over, when asked to.
class VariantDesktop final : public Desktop {
 public:
  VariantDesktop(MainWindow& window, bool moveAfterStart)
      : w_(window), moveAfterStart_(moveAfterStart) {}
  void startUpDone() { started_ = true; }

  bool anotherInstanceAtStart() override { return w_.anotherInstanceAtStart(); }
  void setWindowPos(InsertAfter insertAfter, unsigned flags) override {
    if (started_ && !moveAfterStart_) return;
    w_.setWindowPos(insertAfter, flags);
  }
  void repaint() override { w_.repaint(); }
  void beginCaptionDrag() override { w_.beginCaptionDrag(); }
  void focusParkingBox() override { w_.focusParkingBox(); }
  void endProgram() override { w_.endProgram(); }
  std::uint32_t tickCount() override { return w_.tickCount(); }
  void messageBox(const std::string& text, const std::string& title, int style) override {
    w_.messageBox(text, title, style);
  }
  std::string inputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText, int leftTwips, int topTwips) override {
    return w_.inputBox(prompt, title, defaultText, leftTwips, topTwips);
  }
  std::optional<std::string> readFileBesideProgram(const std::string& name) override {
    return w_.readFileBesideProgram(name);
  }

 private:
  MainWindow& w_;
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

  MainWindow window(instance, anotherInstance);
  VariantDesktop desktop(window, topmost);
  WinHttpClient http;
  VariantTitles titles(scan);
  Widget widget(desktop, http, titles, "https://localhost:48443");
  if (!window.create(widget)) return 1;
  widget.load();
  desktop.startUpDone();

  return window.runMessageLoop();
}
