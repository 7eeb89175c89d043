// viewer_scan_bench: the cost of one tick of the viewer scan on a real Win32 desktop, with
// 10, 100 and 1000 top-level windows of another process on it.
//
//   viewer_scan_bench.exe [--counts 10,100,1000] [--seconds S] [--windows PATH]
//
// For each count it starts many_windows.exe (beside this program unless --windows names it),
// which opens that many windows of mixed kinds and answers their messages from its own thread,
// as any other program on the desktop would. The scan then reads those windows across the
// process boundary: Windows sends WM_GETTEXT to the owning thread and waits for its
// answer; Wine answers the length and the title of another process's window from the
// wineserver, and checks that each enumerated window still exists there too.
//
// Rows, each one call repeated for about S seconds (default 1) and timed with
// QueryPerformanceCounter; after every call the window messages that arrived are handled, as
// the widget's message loop does between ticks (timer messages are dropped, so no tick runs
// unasked):
//   messages only         only that message handling: the floor under every other row
//   EnumWindows           the enumeration with a callback that does nothing
//   + titles              the enumeration with WinWindowTitles::title for every window
//   scan, stub desktop    ViewerScan::Timer2_Timer through WinWindowTitles, with a desktop
//                         whose SetWindowPos does nothing: the title scan alone
//   always-on-top step    the two SetWindowPos calls of the always-on-top step on the widget's
//                         real main window
//   full Timer2 tick      Widget::timerTick(Timer2) on the widget's real main window
//                         (MainWindow, as in the widget): always-on-top step and scan together
// Figures: wall-clock microseconds per call (median over the batches, and the fastest batch),
// this process's CPU time per call (user + kernel, from GetProcessTimes), and what one call
// per second costs as a share of one core, by this process's CPU time. The wall time also
// holds the time spent waiting for the windows' owner and the wineserver to answer. Under
// Wine the CPU time comes in scheduler ticks (10 ms), so rows of few calls are coarse; the
// fastest batch is the figure least disturbed by other load on the machine. In a virtual
// machine, start Xvfb and wine under one CPU (taskset -c 0 ...): wake-ups between this
// program and the wineserver across CPUs can cost several times more, and vary with the
// host's load; on one CPU the wall time is the whole work of this program and the wineserver.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/desktop.h"
#include "core/http_client.h"
#include "lifecycle/lifecycle.h"
#include "viewer/viewer_scan.h"
#include "widget/widget.h"
#include "widget/widget_host.h"
#include "win32/desktop_win.h"
#include "win32/text_win.h"
#include "win32/window_titles_win.h"
#include "win32/window_win.h"

namespace {

using namespace stormtally;

// The desktop for the scan-only row: every call is a no-op, SetWindowPos included.
class StubDesktop final : public Desktop {
 public:
  bool anotherInstanceAtStart() override { return false; }
  void raiseAboveAll(Raise) override {}
  void dropFromAlwaysOnTop() override {}
  FrontWindow frontWindow() override { return {}; }
  void stepBehindFrontWindow() override {}
  void repaint() override {}
  void beginCaptionDrag() override {}
  void focusParkingBox() override {}
  void endProgram() override {}
  std::uint32_t tickCount() override { return GetTickCount(); }
  void messageBox(const std::string&, const std::string&, MessageKind) override {}
  std::string inputBox(const std::string&, const std::string&, const std::string&,
                       TwipsPoint) override {
    return {};
  }
  std::optional<std::string> readFileBesideProgram(const std::string&) override {
    return std::nullopt;
  }
};

// No tick of the scan asks the service; a request here would be a fault of the bench.
class NoHttp final : public HttpClient {
 public:
  void start(const std::string&, const std::string&, Answered) override {
    std::fprintf(stderr, "viewer_scan_bench: unexpected request\n");
    std::exit(1);
  }
  void cancel() override {}
};

// Handles every message that is waiting, as the widget's message loop would, but drops timer
// messages so that the widget's own timers add no ticks to the ones being timed.
void handleWaitingMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_TIMER) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

double seconds(LONGLONG counts) {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  return static_cast<double>(counts) / frequency;
}

LONGLONG now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

// This process's user + kernel time, in seconds.
double processCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto value = [](const FILETIME& f) {
    return (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
  };
  return static_cast<double>(value(kernel) + value(user)) * 100e-9;
}

struct Timing {
  double medianUs = 0;
  double fastestUs = 0;
  double cpuUs = 0;
  long calls = 0;
};

Timing measure(const std::function<void()>& call, double budgetSeconds) {
  auto once = [&] {
    call();
    handleWaitingMessages();
  };
  // Warm-up, which also estimates one call's time: at least 3 calls and a twentieth of the
  // budget, so that one slow call does not set the batch size.
  long warmCalls = 0;
  LONGLONG start = now();
  do {
    once();
    ++warmCalls;
  } while (warmCalls < 3 || seconds(now() - start) < budgetSeconds / 20);
  const double single = std::max(seconds(now() - start) / warmCalls, 1e-7);

  // Ten batches of about a tenth of the budget each.
  const int batches = 10;
  const long perBatch = std::max(1L, static_cast<long>(budgetSeconds / batches / single));

  std::vector<double> batchUs;
  const double cpuBefore = processCpuSeconds();
  for (int b = 0; b < batches; ++b) {
    start = now();
    for (long i = 0; i < perBatch; ++i) once();
    batchUs.push_back(seconds(now() - start) * 1e6 / static_cast<double>(perBatch));
  }
  const double cpu = processCpuSeconds() - cpuBefore;

  Timing t;
  t.calls = perBatch * batches;
  std::sort(batchUs.begin(), batchUs.end());
  t.medianUs = batchUs[batchUs.size() / 2];
  t.fastestUs = batchUs.front();
  t.cpuUs = cpu * 1e6 / static_cast<double>(t.calls);
  return t;
}

struct WindowCensus {
  int topLevel = 0;  // every top-level window EnumWindows visits
  int fromHelper = 0;
  int withTitle = 0;
};

struct CensusRun {
  WindowCensus counts;
  DWORD helperProcess = 0;
};

BOOL CALLBACK countOne(HWND window, LPARAM param) {
  auto& run = *reinterpret_cast<CensusRun*>(param);
  ++run.counts.topLevel;
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == run.helperProcess) ++run.counts.fromHelper;
  if (GetWindowTextLengthA(window) > 0) ++run.counts.withTitle;
  return TRUE;
}

WindowCensus census(DWORD helperProcess) {
  CensusRun run;
  run.helperProcess = helperProcess;
  EnumWindows(countOne, reinterpret_cast<LPARAM>(&run));
  return run.counts;
}

// Runs many_windows.exe with the count and waits until its windows exist.
class WindowsOwner {
 public:
  WindowsOwner(const std::wstring& exe, int count) {
    const std::wstring eventName = L"StormtallyBenchReady." +
                                   std::to_wstring(GetCurrentProcessId()) + L"." +
                                   std::to_wstring(count);
    ready_ = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    std::wstring command = L"\"" + exe + L"\" " + std::to_wstring(count) + L" " + eventName;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &si, &process_)) {
      std::fprintf(stderr, "viewer_scan_bench: cannot start %ls (error %lu)\n", exe.c_str(),
                   GetLastError());
      return;
    }
    HANDLE waits[] = {ready_, process_.hProcess};
    started_ = WaitForMultipleObjects(2, waits, FALSE, 120000) == WAIT_OBJECT_0;
    if (!started_) std::fprintf(stderr, "viewer_scan_bench: %ls did not get ready\n", exe.c_str());
  }
  ~WindowsOwner() {
    if (process_.hProcess) {
      TerminateProcess(process_.hProcess, 0);
      WaitForSingleObject(process_.hProcess, 30000);
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
    if (ready_) CloseHandle(ready_);
  }
  WindowsOwner(const WindowsOwner&) = delete;
  WindowsOwner& operator=(const WindowsOwner&) = delete;

  bool started() const { return started_; }
  DWORD processId() const { return process_.dwProcessId; }

 private:
  HANDLE ready_ = nullptr;
  PROCESS_INFORMATION process_{};
  bool started_ = false;
};

std::wstring besideThisProgram(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  const std::size_t slash = p.find_last_of(L"\\/");
  return (slash == std::wstring::npos ? std::wstring() : p.substr(0, slash + 1)) + name;
}

std::wstring widenArg(const char* s) {
  const int n = MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
  if (n > 1) MultiByteToWideChar(CP_ACP, 0, s, -1, w.data(), n);
  return w;
}

void printRow(const char* name, const Timing& t) {
  std::printf("  %-20s %12.1f %10.1f %12.1f %14.4f %9ld\n", name, t.medianUs, t.fastestUs, t.cpuUs,
              t.cpuUs / 1e6 * 100.0, t.calls);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts{10, 100, 1000};
  double budget = 1.0;
  std::wstring windowsExe = besideThisProgram(L"many_windows.exe");
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--counts") && i + 1 < argc) {
      counts.clear();
      for (char* p = argv[++i]; *p;) {
        counts.push_back(static_cast<int>(std::strtol(p, &p, 10)));
        if (*p == ',') ++p;
      }
    } else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) {
      budget = std::atof(argv[++i]);
    } else if (!std::strcmp(argv[i], "--windows") && i + 1 < argc) {
      windowsExe = widenArg(argv[++i]);
    } else {
      std::fprintf(stderr,
                   "usage: viewer_scan_bench [--counts 10,100,1000] [--seconds S] "
                   "[--windows many_windows.exe]\n");
      return 2;
    }
  }

  // The widget's real main window, as the widget makes it, for the rows that move it.
  MainWindow window(GetModuleHandleW(nullptr));
  WinDesktop desktop(window, false);
  NoHttp http;
  WinWindowTitles titles;
  WindowedWidget<MainWindow, Widget> host(window, desktop, http, titles, "https://localhost:1");
  if (!host.open()) {
    std::fprintf(stderr, "viewer_scan_bench: the main window could not be made\n");
    return 1;
  }
  Widget& widget = host.widget();
  handleWaitingMessages();
  Lifecycle onTop(widget.controls(), desktop);

  // The scan over a desktop that never moves a window.
  Controls stubControls;
  StubDesktop stub;
  Lifecycle stubLifecycle(stubControls, stub);
  ViewerScan stubScan(stubControls, stubLifecycle, titles);

  std::printf("viewer scan, one call per row; times in microseconds per call\n");
  for (int count : counts) {
    WindowsOwner owner(windowsExe, count);
    if (!owner.started()) return 1;
    // The new windows are still being mapped and painted; let the desktop come to rest.
    for (int i = 0; i < 30; ++i) {
      Sleep(100);
      handleWaitingMessages();
    }
    const WindowCensus c = census(owner.processId());
    std::printf(
        "\n%d windows opened by many_windows.exe: %d top-level windows on the desktop, %d of "
        "them its, %d with a title\n",
        count, c.topLevel, c.fromHelper, c.withTitle);
    std::printf("  %-20s %12s %10s %12s %14s %9s\n", "row", "wall median", "wall best",
                "cpu (this)", "% core at 1/s", "calls");

    printRow("messages only", measure([] {}, budget));
    printRow("EnumWindows", measure([&] { titles.enumerate([](WindowRef) {}); }, budget));
    printRow("+ titles",
             measure([&] { titles.enumerate([&](WindowRef w) { titles.title(w); }); }, budget));
    printRow("scan, stub desktop", measure([&] { stubScan.Timer2_Timer(); }, budget));
    printRow("always-on-top step", measure([&] { onTop.alwaysOnTopStep(); }, budget));
    printRow("full Timer2 tick", measure([&] { widget.timerTick(ControlId::Timer2); }, budget));
    std::printf("  site box after the scans: \"%s\" (stub) \"%s\" (widget)\n",
                stubControls.Nexrad_Site.text().c_str(),
                widget.controls().Nexrad_Site.text().c_str());
  }
  return 0;
}
