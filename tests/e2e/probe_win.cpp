// st_probe: prints one top-level window of another process as a JSON object on stdout: its
// rectangle, client area, visibility, topmost flag and title; every child window with its
// class, rectangle (from the top-level window's top left corner), visibility and text; the
// window holding the keyboard focus in its thread; the process's peak working set; the
// decimal separator of the probe's own user locale; the titles of the visible top-level windows
// above it in the Z order; and the foreground window, the one that holds the keyboard.
//
// Usage: st_probe [--class NAME] [--title TEXT] [--wait MS] [--dpi N]
//   Defaults: class "StormtallyWidget", title "x", no waiting; title "*" takes any title. Exits 3
//   when no such window exists after waiting up to MS milliseconds. --dpi first sends the window
//   WM_DPICHANGED for N dots per inch, as Windows does when the window's monitor changes its scale,
//   with the suggested rectangle (its place, scaled from 170 by 74) written into the window's
//   process.
//
// A child's text is read with WM_GETTEXT under a time-out, so a widget busy in a blocking
// request does not block the probe: such a child reports "hung": true and the text the window
// manager holds for it.
#include <windows.h>

// After windows.h, which it builds on.
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::string json(const std::wstring& w) {
  std::string s(static_cast<size_t>(w.size() * 3), '\0');
  s.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()),
                                                   &s[0], static_cast<int>(s.size()), nullptr,
                                                   nullptr)));
  std::string out = "\"";
  for (unsigned char c : s) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", c);
    out += (c < 0x20 || c == '"' || c == '\\') ? std::string(buf) : std::string(1, char(c));
  }
  return out + "\"";
}

std::string rect(const RECT& r) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "[%ld, %ld, %ld, %ld]", r.left, r.top, r.right, r.bottom);
  return buf;
}

std::string flag(bool on) {
  return on ? "true" : "false";
}

std::string textFields(HWND h) {
  wchar_t stored[1024] = {};
  InternalGetWindowText(h, stored, 1024);  // never sends a message
  std::wstring text = stored;
  DWORD_PTR length = 0, copied = 0;
  const UINT how = SMTO_ABORTIFHUNG | SMTO_BLOCK;
  bool answered = SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, how, 1500, &length);
  if (answered) {
    std::wstring live(length + 1, L'\0');
    answered = SendMessageTimeoutW(h, WM_GETTEXT, live.size(), reinterpret_cast<LPARAM>(&live[0]),
                                   how, 1500, &copied);
    if (answered) text = live.substr(0, copied < length ? copied : length);
  }
  wchar_t cls[256] = {};
  GetClassNameW(h, cls, 256);
  return "\"hwnd\": " + std::to_string(reinterpret_cast<ULONG_PTR>(h)) +
         ", \"class\": " + json(cls) + ", \"text\": " + json(text) +
         ", \"hung\": " + flag(!answered);
}

BOOL CALLBACK addChild(HWND child, LPARAM param) {
  auto* rows = reinterpret_cast<std::string*>(param);
  RECT r{}, top{};
  GetWindowRect(child, &r);
  GetWindowRect(GetAncestor(child, GA_ROOT), &top);
  OffsetRect(&r, -top.left, -top.top);
  *rows += std::string(rows->empty() ? "" : ", ") + "{" + textFields(child) +
           ", \"rect\": " + rect(r) + ", \"visible\": " + flag(IsWindowVisible(child)) + "}";
  return TRUE;
}

// Adds the title of a visible top-level window above `first` to `second`, in EnumWindows order:
// the Z order, front first.
BOOL CALLBACK addAbove(HWND w, LPARAM param) {
  auto* above = reinterpret_cast<std::pair<HWND, std::string>*>(param);
  if (w == above->first) return FALSE;
  wchar_t title[256] = {};
  InternalGetWindowText(w, title, 256);
  if (IsWindowVisible(w)) above->second += (above->second.empty() ? "" : ", ") + json(title);
  return TRUE;
}

void sendDpiChange(HWND top, DWORD pid, int dpi) {
  RECT r{};
  GetWindowRect(top, &r);
  r.right = r.left + MulDiv(170, dpi, 96);
  r.bottom = r.top + MulDiv(74, dpi, 96);
  HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
  void* remote = VirtualAllocEx(process, nullptr, sizeof r, MEM_COMMIT, PAGE_READWRITE);
  WriteProcessMemory(process, remote, &r, sizeof r, nullptr);
  SendMessageW(top, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(remote));
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring cls = L"StormtallyWidget", title = L"x";
  long waitMs = 0, dpi = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring key = argv[i];
    if (key == L"--class") cls = argv[i + 1];
    if (key == L"--title") title = argv[i + 1];
    if (key == L"--wait") waitMs = wcstol(argv[i + 1], nullptr, 10);
    if (key == L"--dpi") dpi = wcstol(argv[i + 1], nullptr, 10);
  }
  const wchar_t* name = title == L"*" ? nullptr : title.c_str();
  HWND top = FindWindowW(cls.c_str(), name);
  for (DWORD start = GetTickCount(); !top && long(GetTickCount() - start) < waitMs; Sleep(50)) {
    top = FindWindowW(cls.c_str(), name);
  }
  if (!top) return 3;  // a code of its own, told apart from a start that failed
  DWORD pid = 0;
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  GetGUIThreadInfo(GetWindowThreadProcessId(top, &pid), &gui);
  if (dpi) sendDpiChange(top, pid, dpi);

  RECT window{}, client{};
  GetWindowRect(top, &window);
  GetClientRect(top, &client);
  std::string children;
  EnumChildWindows(top, addChild, reinterpret_cast<LPARAM>(&children));
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  K32GetProcessMemoryInfo(process, &memory, sizeof memory);
  CloseHandle(process);
  std::pair<HWND, std::string> above{top, ""};
  EnumWindows(addAbove, reinterpret_cast<LPARAM>(&above));
  wchar_t decimal[8] = {};
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, decimal, 8);

  std::string out =
      "{\"pid\": " + std::to_string(pid) + ", " + textFields(top) + ", \"rect\": " + rect(window) +
      ", \"client\": " + rect(client) + ", \"visible\": " + flag(IsWindowVisible(top)) +
      ", \"topmost\": " + flag(GetWindowLongW(top, GWL_EXSTYLE) & WS_EX_TOPMOST) +
      ", \"children\": [" + children +
      "], \"focus\": " + (gui.hwndFocus ? "{" + textFields(gui.hwndFocus) + "}" : "null") +
      ", \"peak_working_set\": " + std::to_string(memory.PeakWorkingSetSize) +
      ", \"decimal\": " + json(decimal) + ", \"above\": [" + above.second +
      "], \"foreground\": " + std::to_string(reinterpret_cast<ULONG_PTR>(GetForegroundWindow())) +
      "}\n";
  std::fputs(out.c_str(), stdout);
  return 0;
}
