// many_windows: fills the desktop with COUNT top-level windows of mixed kinds, as a busy user
// desktop beside a radar viewer would hold them, and keeps them until it is killed.
//
//   many_windows.exe COUNT [READY_EVENT]
//
// Of every 20 windows: 1 carries a radar viewer title, 2 have an empty title, 3 are hidden
// windows with ordinary titles, 2 are minimised, the other 12 are shown normally with ordinary
// titles of varied length. Every viewer title names the same site, so a scan over them leaves
// the site box unchanged from one tick to the next, as with one viewer on a real desktop.
// Titles are set through the ANSI entry points, which the scan reads them with.
//
// When every window exists it prints "ready" and, if READY_EVENT names one, sets that event.
// Its thread then runs a message loop, so it answers the title-length messages of a scan from
// another process the way a real program does.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char* const kViewerTitles[] = {
    "KTLX 0.5 Base Reflectivity - GRLevel3",
    "KTLX Super Res Velocity 0.5 - GRLevel2",
    "Warnings - GRLevel3",
    "KTLX Storm Relative Velocity (Tilt 1) - GR2Analyst",
};

const char* const kOrdinaryTitles[] = {
    "Untitled - Notepad",
    "Inbox (1,204) - Mail",
    "Storm Prediction Center Mesoscale Discussion 1873 - Web Browser",
    "C:\\Users\\chaser\\Documents\\chase log 2024.txt - Editor",
    "Calculator",
    "Task Manager",
    "Radar composite loop and surface observations for the southern plains - Web Browser - "
    "Private window",
    "Spotter Network",
    "Program Manager",
    "Settings",
    "Microsoft Excel - storm reports.xlsx",
    "Volume Mixer",
};

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: many_windows COUNT [READY_EVENT]\n");
    return 2;
  }
  const int count = std::atoi(argv[1]);
  if (count < 0) return 2;
  HINSTANCE instance = GetModuleHandleA(nullptr);

  WNDCLASSA wc{};
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
  wc.lpszClassName = "StormtallyBenchWindow";
  if (!RegisterClassA(&wc)) return 1;

  for (int i = 0; i < count; ++i) {
    const int kind = i % 20;
    std::string title;
    int show = SW_SHOWNOACTIVATE;
    if (kind == 0) {
      title = kViewerTitles[(i / 20) % std::size(kViewerTitles)];
    } else if (kind <= 2) {
      title.clear();
    } else {
      title = kOrdinaryTitles[i % std::size(kOrdinaryTitles)];
      if (kind <= 5) show = SW_HIDE;
      if (kind == 6 || kind == 7) show = SW_SHOWMINNOACTIVE;
    }
    // Small windows placed away from the top-left corner, where the widget sits.
    HWND window = CreateWindowExA(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW,
                                  300 + (i % 40) * 12, 200 + (i % 30) * 10, 200, 120, nullptr,
                                  nullptr, instance, nullptr);
    if (!window) {
      std::fprintf(stderr, "many_windows: window %d could not be made (error %lu)\n", i,
                   GetLastError());
      return 1;
    }
    ShowWindow(window, show);
  }

  std::printf("ready\n");
  std::fflush(stdout);
  if (argc >= 3) {
    if (HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2])) {
      SetEvent(ready);
      CloseHandle(ready);
    }
  }

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return 0;
}
