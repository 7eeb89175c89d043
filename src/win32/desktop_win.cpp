#include "win32/desktop_win.h"

#include "core/layout.h"
#include "win32/dialogs_win.h"
#include "win32/files_win.h"
#include "win32/text_win.h"

namespace stormtally {

void WinDesktop::raiseAboveAll(Raise how) {
  UINT flags = SWP_NOMOVE | SWP_NOSIZE;
  if (how != Raise::MayActivate) flags |= SWP_NOACTIVATE;
  if (how == Raise::ShowWithoutActivating) flags |= SWP_SHOWWINDOW;
  SetWindowPos(window_.hwnd(), HWND_TOPMOST, 0, 0, 0, 0, flags);
}

void WinDesktop::dropFromAlwaysOnTop() {
  SetWindowPos(window_.hwnd(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

namespace {

ScreenRect screenRect(const RECT& r) {
  return {static_cast<int>(r.left), static_cast<int>(r.top), static_cast<int>(r.right),
          static_cast<int>(r.bottom)};
}

// What the shell tells programs about the user: busy in a full-screen program, a Direct3D game
// or a presentation. shell32 is loaded on first use and the call looked up there, as systems
// without it answer nothing.
UserState userState() {
  using Query = HRESULT(WINAPI*)(int*);
  static const Query query = [] {
    HMODULE shell = LoadLibraryW(L"shell32.dll");
    return shell ? reinterpret_cast<Query>(reinterpret_cast<void*>(
                       GetProcAddress(shell, "SHQueryUserNotificationState")))
                 : nullptr;
  }();
  int state = 0;
  if (!query || FAILED(query(&state))) return UserState::Available;
  switch (state) {
    case 2:  // QUNS_BUSY: a full-screen program
      return UserState::Busy;
    case 3:  // QUNS_RUNNING_D3D_FULL_SCREEN
      return UserState::FullScreenGame;
    case 4:  // QUNS_PRESENTATION_MODE
      return UserState::Presenting;
    default:
      return UserState::Available;
  }
}

bool shellBackground(HWND w) {
  wchar_t cls[16] = {};
  GetClassNameW(w, cls, 16);
  return w == GetDesktopWindow() || w == GetShellWindow() || lstrcmpW(cls, L"Progman") == 0 ||
         lstrcmpW(cls, L"WorkerW") == 0;
}

}  // namespace

FrontWindow WinDesktop::frontWindow() {
  FrontWindow front;
  front.user = userState();
  HWND w = GetForegroundWindow();
  if (!w) return front;
  front.exists = true;
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  front.ownProgram = pid == GetCurrentProcessId();
  front.shell = shellBackground(w);
  RECT r{};
  GetWindowRect(w, &r);
  front.rect = screenRect(r);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(window_.hwnd(), MONITOR_DEFAULTTONEAREST), &monitor);
  front.widgetMonitor = screenRect(monitor.rcMonitor);
  return front;
}

void WinDesktop::stepBehindFrontWindow() {
  if (HWND w = GetForegroundWindow()) {
    SetWindowPos(window_.hwnd(), w, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

void WinDesktop::repaint() {
  RedrawWindow(window_.hwnd(), nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void WinDesktop::focusParkingBox() {
  SetFocus(window_.child(ControlId::focus));
}

void WinDesktop::messageBox(const std::string& text, const std::string& title, MessageKind kind) {
  showMessage(window_.hwnd(), text, title, kind);
}

std::string WinDesktop::inputBox(const std::string& prompt, const std::string& title,
                                 const std::string& defaultText, TwipsPoint topLeft) {
  const int dpi = static_cast<int>(window_.dpi());
  const POINT at{twipsToPixels(topLeft.left, dpi), twipsToPixels(topLeft.top, dpi)};
  return showInputPrompt(window_.hwnd(), prompt, title, defaultText, at);
}

bool WinDesktop::pointerRestsOnWindow() {
  POINT at;
  if (!GetCursorPos(&at)) return false;
  HWND under = WindowFromPoint(at);
  return under && GetAncestor(under, GA_ROOT) == window_.hwnd();
}

bool WinDesktop::onTopAlready() {
  return (GetWindowLongPtrW(window_.hwnd(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

std::string WinDesktop::localTimeText() {
  wchar_t text[64] = L"";
  GetTimeFormatW(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, text, 64);
  return narrow(text);
}

void WinDesktop::tellDebugger(const std::string& line) {
  OutputDebugStringW(widen("Stormtally: " + line + "\n").c_str());
}

std::optional<std::string> WinDesktop::readFileBesideProgram(const std::string& name) {
  return stormtally::readFileBesideProgram(name);
}

}  // namespace stormtally
