// Start-up of the widget on Windows: one window, one thread, no command line.
#include "version.h"
#include "widget/widget.h"
#include "widget/widget_host.h"
#include "win32/desktop_win.h"
#include "win32/handles_win.h"
#include "win32/http_client_win.h"
#include "win32/window_titles_win.h"
#include "win32/window_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  using namespace stormtally;
  // The mutex lives as long as the process; a copy that finds it already there was started
  // second and ends before its window is shown.
  UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, L"Local\\Stormtally.Widget"));
  const bool anotherInstance = mutex && GetLastError() == ERROR_ALREADY_EXISTS;

  // Everything the widget talks to outlives it; the owner closes the window first.
  MainWindow window(instance);
  WinDesktop desktop(window, anotherInstance);
  WinHttpClient http(instance);
  WinWindowTitles titles;
  WindowedWidget<MainWindow, Widget> widget(window, desktop, http, titles, STORMTALLY_SERVICE_URL);
  if (!widget.open()) return 1;
  return window.runMessageLoop();
}
