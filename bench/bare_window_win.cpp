// st_bare_window: opens one frameless 170 by 74 window (class "StBareWindow", title "bare")
// and runs its message loop until the window is closed or the process is killed. It does
// nothing else, so its peak working set is the floor that any window costs under the same
// desktop; bench/peak_working_set.sh and bench/idle_cpu.sh compare the widget with it.
#include <windows.h>

namespace {

LRESULT CALLBACK bareProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = bareProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = L"StBareWindow";
  if (!RegisterClassW(&wc)) return 1;
  HWND window = CreateWindowExW(0, L"StBareWindow", L"bare", WS_POPUP, 600, 400, 170, 74, nullptr,
                                nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, SW_SHOWNOACTIVATE);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
