// st_probe: prints what the end-to-end tests need to know about one top-level window of
// another process, as a single JSON object on stdout:
//   the window's rectangle, visibility and topmost flag; every child window with its class,
//   control id, rectangle (client coordinates of the top-level window), visibility and text;
//   the window holding the keyboard focus in that window's thread; and the process's working
//   set figures.
//
// Usage: st_probe [--class NAME] [--title TEXT] [--wait MS]
//   Defaults: class "StormtallyWidget", title "x", no waiting. Exits 1 when no such window
//   exists (after waiting up to MS milliseconds for it).
//
// A child's text is read with WM_GETTEXT under a time-out, so a widget that is busy in a
// blocking request does not block the probe: such a child reports "hung": true and falls back
// to the text the window manager holds for it.
#include <windows.h>

// After windows.h, which they build on.
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr UINT kTextTimeoutMs = 1500;

std::string utf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

std::wstring wide(const char* s) {
  int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n - 1 : 0), L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, s, -1, &out[0], n);
  return out;
}

std::string json(const std::wstring& w) {
  std::string s = utf8(w);
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string handle(HWND h) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "\"0x%lx\"",
                static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(h)));
  return buf;
}

std::string rectJson(const RECT& r) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "[%ld, %ld, %ld, %ld]", r.left, r.top, r.right, r.bottom);
  return buf;
}

std::wstring className(HWND h) {
  wchar_t buf[256] = {};
  GetClassNameW(h, buf, 256);
  return buf;
}

// The text the window manager keeps for a window; never sends a message.
std::wstring storedText(HWND h) {
  wchar_t buf[1024] = {};
  InternalGetWindowText(h, buf, 1024);
  return buf;
}

// The text the control itself reports, or nothing when its thread does not answer in time.
bool liveText(HWND h, std::wstring& text) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kTextTimeoutMs,
                           &length)) {
    return false;
  }
  std::vector<wchar_t> buf(length + 2, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                           SMTO_ABORTIFHUNG | SMTO_BLOCK, kTextTimeoutMs, &copied)) {
    return false;
  }
  text.assign(buf.data(), copied < buf.size() ? copied : buf.size() - 1);
  return true;
}

std::string textFields(HWND h) {
  std::wstring text;
  bool answered = liveText(h, text);
  if (!answered) text = storedText(h);
  return "\"text\": " + json(text) + ", \"hung\": " + (answered ? "false" : "true");
}

struct ChildList {
  HWND top;
  std::vector<std::string> rows;
};

BOOL CALLBACK collectChild(HWND child, LPARAM param) {
  auto* list = reinterpret_cast<ChildList*>(param);
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, list->top, reinterpret_cast<POINT*>(&r), 2);
  std::string row = "{\"hwnd\": " + handle(child) + ", \"parent\": " + handle(GetParent(child)) +
                    ", \"class\": " + json(className(child)) +
                    ", \"id\": " + std::to_string(GetDlgCtrlID(child)) +
                    ", \"rect\": " + rectJson(r) +
                    ", \"visible\": " + (IsWindowVisible(child) ? "true" : "false") +
                    ", \"enabled\": " + (IsWindowEnabled(child) ? "true" : "false") +
                    ", \"style\": " + std::to_string(GetWindowLongW(child, GWL_STYLE)) + ", " +
                    textFields(child) + "}";
  list->rows.push_back(row);
  return TRUE;
}

std::string windowSummary(HWND h) {
  if (!h) return "null";
  return "{\"hwnd\": " + handle(h) + ", \"class\": " + json(className(h)) +
         ", \"id\": " + std::to_string(GetDlgCtrlID(h)) + ", " + textFields(h) + "}";
}

// The window with the keyboard focus in the given thread: asked of the window manager first,
// and through a shared input state when that gives nothing.
HWND focusOf(DWORD thread) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (GetGUIThreadInfo(thread, &info) && info.hwndFocus) return info.hwndFocus;
  HWND focus = nullptr;
  DWORD self = GetCurrentThreadId();
  if (AttachThreadInput(self, thread, TRUE)) {
    focus = GetFocus();
    AttachThreadInput(self, thread, FALSE);
  }
  return focus;
}

std::string memoryJson(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return "null";
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  BOOL ok = K32GetProcessMemoryInfo(process, &counters, sizeof counters);
  CloseHandle(process);
  if (!ok) return "null";
  return "{\"peak_working_set\": " + std::to_string(counters.PeakWorkingSetSize) +
         ", \"working_set\": " + std::to_string(counters.WorkingSetSize) +
         ", \"peak_pagefile\": " + std::to_string(counters.PeakPagefileUsage) +
         ", \"pagefile\": " + std::to_string(counters.PagefileUsage) + "}";
}

}  // namespace

int main(int argc, char** argv) {
  std::wstring cls = L"StormtallyWidget";
  std::wstring title = L"x";
  long waitMs = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string key = argv[i];
    if (key == "--class") {
      cls = wide(argv[i + 1]);
    } else if (key == "--title") {
      title = wide(argv[i + 1]);
    } else if (key == "--wait") {
      waitMs = std::strtol(argv[i + 1], nullptr, 10);
    } else {
      std::fprintf(stderr, "st_probe: unknown option %s\n", argv[i]);
      return 2;
    }
  }

  HWND top = FindWindowW(cls.c_str(), title.c_str());
  for (DWORD start = GetTickCount(); !top && static_cast<long>(GetTickCount() - start) < waitMs;) {
    Sleep(50);
    top = FindWindowW(cls.c_str(), title.c_str());
  }
  if (!top) {
    std::printf("{\"found\": false}\n");
    return 1;
  }

  DWORD pid = 0;
  DWORD thread = GetWindowThreadProcessId(top, &pid);
  RECT window{}, client{};
  GetWindowRect(top, &window);
  GetClientRect(top, &client);
  LONG exStyle = GetWindowLongW(top, GWL_EXSTYLE);

  ChildList children{top, {}};
  EnumChildWindows(top, collectChild, reinterpret_cast<LPARAM>(&children));

  std::string out = "{\"found\": true, \"hwnd\": " + handle(top) +
                    ", \"pid\": " + std::to_string(pid) + ", \"rect\": " + rectJson(window) +
                    ", \"client\": " + rectJson(client) +
                    ", \"visible\": " + (IsWindowVisible(top) ? "true" : "false") +
                    ", \"topmost\": " + ((exStyle & WS_EX_TOPMOST) ? "true" : "false") +
                    ", \"style\": " + std::to_string(GetWindowLongW(top, GWL_STYLE)) +
                    ", \"ex_style\": " + std::to_string(exStyle) +
                    ", \"title\": " + json(storedText(top)) + ", \"children\": [";
  for (size_t i = 0; i < children.rows.size(); ++i) {
    out += (i ? ", " : "") + children.rows[i];
  }
  out += "], \"focus\": " + windowSummary(focusOf(thread)) +
         ", \"foreground\": " + handle(GetForegroundWindow()) + ", \"memory\": " + memoryJson(pid) +
         "}\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
