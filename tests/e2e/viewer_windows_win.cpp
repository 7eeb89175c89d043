// st_viewer_windows: stands in for a radar viewer on the test desktop. It opens one top-level
// window per argument, titled with the argument, and keeps them until it is killed or one of
// them is closed. An argument may start with a marker that sets how its window is shown:
//   "hidden:TITLE"     created but never shown
//   "minimised:TITLE"  shown minimised, without activation
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
    if (std::strncmp(title, "hidden:", 7) == 0) {
      show = SW_HIDE;
      title += 7;
    } else if (std::strncmp(title, "minimised:", 10) == 0) {
      show = SW_SHOWMINNOACTIVE;
      title += 10;
    }
    // Placed away from the top-left corner, so they do not lie over the widget's usual place.
    HWND window = CreateWindowExA(0, "StViewerWindow", title, WS_OVERLAPPEDWINDOW, 500 + 20 * i,
                                  300 + 20 * i, 320, 200, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, show);
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
