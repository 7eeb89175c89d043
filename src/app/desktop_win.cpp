#include "app/desktop_win.h"

#include "app/dialogs_win.h"
#include "app/files_win.h"
#include "app/layout.h"
#include "app/text_win.h"

namespace stormtally {

void WinDesktop::raiseAboveAll(Raise how) {
  UINT flags = SWP_NOMOVE | SWP_NOSIZE;
  if (how == Raise::ShowWithoutActivating) flags |= SWP_NOACTIVATE | SWP_SHOWWINDOW;
  SetWindowPos(window_.hwnd(), HWND_TOPMOST, 0, 0, 0, 0, flags);
}

void WinDesktop::dropFromAlwaysOnTop() {
  SetWindowPos(window_.hwnd(), HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
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
