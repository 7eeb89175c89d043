#include "viewer/window_titles_win.h"

#include <algorithm>
#include <vector>

#include "app/handles_win.h"
#include "app/text_win.h"

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
  readWindow_ = 0;
  EnumWindows(visitOne, reinterpret_cast<LPARAM>(&visit));
  readWindow_ = 0;
}

int WinWindowTitles::titleLength(WindowRef window) {
  HWND hwnd = reinterpret_cast<HWND>(window);
  char buffer[kShortTitleBytes];
  const int got = GetWindowTextA(hwnd, buffer, kShortTitleBytes);
  if (got >= 0 && got < kShortTitleBytes - 1) {
    readWindow_ = window;
    readTitle_.assign(buffer, static_cast<std::size_t>(got));
    return got;
  }
  readWindow_ = 0;  // a long title: ask for its length, then read it whole
  return GetWindowTextLengthA(hwnd);
}

std::string WinWindowTitles::title(WindowRef window, int maxChars) {
  if (window == readWindow_ && window != 0) {
    readWindow_ = 0;
    const int n = std::min<int>(maxChars, static_cast<int>(readTitle_.size()));
    return fromAnsi(readTitle_.data(), n);
  }
  std::vector<char> buffer(static_cast<std::size_t>(maxChars) + 1, '\0');
  const int got = GetWindowTextA(reinterpret_cast<HWND>(window), buffer.data(), maxChars + 1);
  if (got <= 0) return {};
  return fromAnsi(buffer.data(), got);
}

}  // namespace stormtally
