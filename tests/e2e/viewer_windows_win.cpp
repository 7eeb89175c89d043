// st_viewer_windows: stands in for a radar viewer on the test desktop. It opens one top-level
// window per argument, titled with the argument, and keeps them until it is killed or one of
// them is closed. An argument may start with a marker that sets how its window is shown:
//   "hidden:TITLE"     created but never shown
//   "minimised:TITLE"  shown minimised, without activation
//   "TITLE"            shown normally, without activation
// Titles are set through the ANSI entry points, as the widget reads them with the ANSI ones.
// When every window exists it writes "ready" to stdout.
#include <windows.h>

// After windows.h, which they build on.
#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

LRESULT CALLBACK viewerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

std::string ansi(const wchar_t* w) {
  int n = WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) WideCharToMultiByte(CP_ACP, 0, w, -1, &out[0], n, nullptr, nullptr);
  return out;
}

bool startsWith(const std::string& s, const char* prefix, std::string& rest) {
  std::string p = prefix;
  if (s.compare(0, p.size(), p) != 0) return false;
  rest = s.substr(p.size());
  return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return 1;

  WNDCLASSA wc{};
  wc.lpfnWndProc = viewerProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  wc.lpszClassName = "StViewerWindow";
  if (!RegisterClassA(&wc)) return 1;

  for (int i = 1; i < argc; ++i) {
    std::string arg = ansi(argv[i]);
    std::string title = arg;
    int show = SW_SHOWNOACTIVATE;
    if (startsWith(arg, "hidden:", title)) {
      show = SW_HIDE;
    } else if (startsWith(arg, "minimised:", title)) {
      show = SW_SHOWMINNOACTIVE;
    }
    // Placed away from the top-left corner, so they do not lie over the widget's usual place.
    HWND window =
        CreateWindowExA(0, "StViewerWindow", title.c_str(), WS_OVERLAPPEDWINDOW, 500 + 20 * i,
                        300 + 20 * i, 320, 200, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    ShowWindow(window, show);
  }
  LocalFree(argv);
  std::printf("ready\n");
  std::fflush(stdout);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
