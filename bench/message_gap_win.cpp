// message_gap: how long the widget leaves its window's messages waiting. For S seconds it
// sends WM_NULL to the widget's window every 20 ms and waits for the answer (at most 5 s a
// probe), then prints the longest wait and the longest time between two answers: what a user
// dragging the window or resting the pointer on it would feel.
//
//   message_gap.exe SECONDS
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 12;
  HWND widget = FindWindowW(L"StormtallyWidget", L"x");
  if (!widget) {
    std::fprintf(stderr, "message_gap: no widget window\n");
    return 1;
  }
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  const auto ms = [&](const LARGE_INTEGER& a, const LARGE_INTEGER& b) {
    return 1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) /
           static_cast<double>(frequency.QuadPart);
  };
  QueryPerformanceCounter(&start);
  LARGE_INTEGER lastAnswer = start;
  double longestWait = 0, longestGap = 0;
  int probes = 0, unanswered = 0;
  for (now = start; ms(start, now) < seconds * 1000; QueryPerformanceCounter(&now)) {
    LARGE_INTEGER sent, answered;
    QueryPerformanceCounter(&sent);
    DWORD_PTR result = 0;
    const bool ok = SendMessageTimeoutW(widget, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result) != 0;
    QueryPerformanceCounter(&answered);
    ++probes;
    if (!ok) {
      ++unanswered;
      continue;
    }
    longestWait = std::max(longestWait, ms(sent, answered));
    longestGap = std::max(longestGap, ms(lastAnswer, answered));
    lastAnswer = answered;
    Sleep(20);
  }
  std::printf(
      "%d probes over %.0f s, %d unanswered within 5 s; longest wait for an answer "
      "%.1f ms, longest time between two answers %.1f ms\n",
      probes, seconds, unanswered, longestWait, longestGap);
  return 0;
}
