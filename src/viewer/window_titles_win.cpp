#include "viewer/window_titles_win.h"

#include <vector>

#include "app/handles_win.h"

namespace stormtally {
namespace {

BOOL CALLBACK visitOne(HWND window, LPARAM param) {
  (*reinterpret_cast<const std::function<void(WindowRef)>*>(param))(
      reinterpret_cast<WindowRef>(window));
  return TRUE;  // every window is examined; the enumeration is never cut short
}

}  // namespace

void WinWindowTitles::enumerate(const std::function<void(WindowRef)>& visit) {
  EnumWindows(visitOne, reinterpret_cast<LPARAM>(&visit));
}

int WinWindowTitles::titleLength(WindowRef window) {
  return GetWindowTextLengthA(reinterpret_cast<HWND>(window));
}

std::string WinWindowTitles::title(WindowRef window, int maxChars) {
  std::vector<char> buffer(static_cast<std::size_t>(maxChars) + 1, '\0');
  const int got = GetWindowTextA(reinterpret_cast<HWND>(window), buffer.data(), maxChars + 1);
  if (got <= 0) return {};
  // ANSI code page to the program's text.
  const int n = MultiByteToWideChar(CP_ACP, 0, buffer.data(), got, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, buffer.data(), got, wide.data(), n);
  return narrow(wide);
}

}  // namespace stormtally
