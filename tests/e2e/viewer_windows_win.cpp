// st_viewer_windows: stands in for a radar viewer on the test desktop. It opens one top-level
// window per argument, titled with the argument, and keeps them until it is killed or one of
// them is closed. An argument may start with a marker that sets how its window is shown:
//   "hidden:TITLE"     created but never shown
//   "minimised:TITLE"  shown minimised, without activation
//   "fullscreen:TITLE" a borderless window over the whole primary monitor, made the active one,
//                      as a game, a video or a slide show makes it
//   "TITLE"            shown normally, without activation
// Titles are set through the ANSI entry points, as the widget reads them with the ANSI ones.
// When every window exists it writes "ready" to stdout.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

LRESULT CALLBACK viewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = viewerProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  wc.lpszClassName = "StViewerWindow";
  if (!RegisterClassA(&wc)) return 1;

  for (int i = 1; i < __argc; ++i) {  // the C runtime's ANSI arguments
    const char* title = __argv[i];
    int show = SW_SHOWNOACTIVATE;
    DWORD style = WS_OVERLAPPEDWINDOW;
    // Placed away from the top-left corner, so they do not lie over the widget's usual place.
    int x = 500 + 20 * i, y = 300 + 20 * i, width = 320, height = 200;
    if (std::strncmp(title, "fullscreen:", 11) == 0) {
      show = SW_SHOW;
      style = WS_POPUP;
      x = y = 0;
      width = GetSystemMetrics(SM_CXSCREEN);
      height = GetSystemMetrics(SM_CYSCREEN);
      title += 11;
    } else if (std::strncmp(title, "hidden:", 7) == 0) {
      show = SW_HIDE;
      title += 7;
    } else if (std::strncmp(title, "minimised:", 10) == 0) {
      show = SW_SHOWMINNOACTIVE;
      title += 10;
    }
    HWND window = CreateWindowExA(0, "StViewerWindow", title, style, x, y, width, height, nullptr,
                                  nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, show);
    if (show == SW_SHOW) SetForegroundWindow(window);
  }
  std::printf("ready\n");
  std::fflush(stdout);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
