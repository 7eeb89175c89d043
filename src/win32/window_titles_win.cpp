#include "win32/window_titles_win.h"

#include <vector>

#include "win32/handles_win.h"
#include "win32/text_win.h"

namespace stormtally {
namespace {

constexpr int kShortTitleBytes = 256;

BOOL CALLBACK visitOne(HWND window, LPARAM param) {
  (*reinterpret_cast<const std::function<void(WindowRef)>*>(param))(
      reinterpret_cast<WindowRef>(window));
  return TRUE;  // every window is examined; the enumeration is never cut short
}

// ANSI code page to the program's text; plain ASCII needs no conversion.
std::string fromAnsi(const char* bytes, int length) {
  bool ascii = true;
  for (int i = 0; i < length && ascii; ++i) ascii = static_cast<unsigned char>(bytes[i]) < 0x80;
  if (ascii) return std::string(bytes, static_cast<std::size_t>(length));
  const int n = MultiByteToWideChar(CP_ACP, 0, bytes, length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes, length, wide.data(), n);
  return narrow(wide);
}

}  // namespace

void WinWindowTitles::enumerate(const std::function<void(WindowRef)>& visit) {
  EnumWindows(visitOne, reinterpret_cast<LPARAM>(&visit));
}

std::string WinWindowTitles::title(WindowRef window) {
  HWND hwnd = reinterpret_cast<HWND>(window);
  // Most titles fit a short buffer and take one call to the window's owner. A title that fills
  // it may have been cut, so it is read again whole into a buffer of its full length.
  char shortTitle[kShortTitleBytes];
  const int got = GetWindowTextA(hwnd, shortTitle, kShortTitleBytes);
  if (got <= 0) return {};
  if (got < kShortTitleBytes - 1) return fromAnsi(shortTitle, got);
  const int length = GetWindowTextLengthA(hwnd);
  if (length <= 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  const int gotAll = GetWindowTextA(hwnd, buffer.data(), length + 1);
  if (gotAll <= 0) return {};  // closed meanwhile
  return fromAnsi(buffer.data(), gotAll);
}

}  // namespace stormtally
