// A fake desktop for the widget's core: records every call in order, runs timers on a
// simulated clock, answers HTTP requests from a script and offers a fake list of windows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "widget/widget.h"  // the controls, the desktop, the HTTP client and the window titles

namespace stormtally::testing {

inline constexpr const char* kTestService = "https://strikes.test";

struct FakeWindow {
  std::string title;
  // Called when the title is read, just before it is handed over.
  std::function<void(FakeWindow&)> onTitleRead;
};

class FakeDesktop : public Desktop, public ControlObserver, public HttpClient, public WindowTitles {
 public:
  // --- Desktop ---
  bool anotherInstanceAtStart() override { return anotherInstance; }
  // A raise followed by one that shows the window is the always-on-top step, logged as one
  // entry: "on top", or "on top, activating" when its first raise may take the keyboard.
  void raiseAboveAll(Raise how) override {
    onTop = true;
    const char* names[] = {"raise, activating", "raise", "show"};
    if (how == Raise::ShowWithoutActivating && !log.empty() && log.back().rfind("raise", 0) == 0) {
      log.back().replace(0, 5, "on top");
    } else {
      log.push_back(names[static_cast<int>(how)]);
    }
  }
  void dropFromAlwaysOnTop() override { log.push_back("drop from top"); }
  FrontWindow frontWindow() override { return front; }
  void stepBehindFrontWindow() override { onTop = false, log.push_back("behind the front window"); }
  void repaint() override { log.push_back("repaint"); }
  void beginCaptionDrag() override { log.push_back("drag"); }
  void focusParkingBox() override { log.push_back("focus"); }
  void endProgram() override { ended = (log.push_back("end"), true); }
  std::uint32_t tickCount() override { return static_cast<std::uint32_t>(tickBase + nowMs); }
  // Each dialog is logged with what it shows, e.g. "critical: title: text" for a message box
  // and "prompt at 7000,3000: title: prompt [default]" for a prompt.
  void messageBox(const std::string& text, const std::string& title, MessageKind kind) override {
    dialog(std::string(kind == MessageKind::Critical ? "critical" : "information") + ": " + title +
           ": " + text);
  }
  std::string inputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText, TwipsPoint at) override {
    dialog("prompt at " + std::to_string(at.left) + "," + std::to_string(at.top) + ": " + title +
           ": " + prompt + " [" + defaultText + "]");
    if (answers.empty()) return "";  // cancelled
    std::string answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void dialog(std::string shown) {
    log.push_back(shown.substr(0, shown.find(':')));
    dialogs.push_back(std::move(shown));
    if (onDialog) onDialog();
  }
  bool pointerRestsOnWindow() override { return pointerOnWindow; }
  bool onTopAlready() override { return onTop; }
  std::string localTimeText() override { return std::to_string(nowMs) + " ms"; }
  void tellDebugger(const std::string& line) override { debugLines.push_back(line); }
  std::optional<std::string> readFileBesideProgram(const std::string& name) override {
    log.push_back("read(" + name + ")");
    return files.count(name) ? std::optional<std::string>(files[name]) : std::nullopt;
  }

  // --- ControlObserver: timers run on the simulated clock ---
  void visibleChanged(ControlId id) override {
    const bool shown = static_cast<TextBox&>(widget->controls()[id]).visible();
    log.push_back(controlName(id) + std::string(shown ? " shown" : " hidden"));
  }
  void timerChanged(ControlId id) override {
    Timer& t = widget->controls().timer(id);
    log.push_back(std::string(controlName(id)) + (t.enabled() ? " on" : " off"));
    due.erase(id);
    if (t.enabled()) due[id] = nowMs + static_cast<std::uint64_t>(t.intervalMs());
  }

  // --- HttpClient: each request is answered with `answer` after `requestMs` of simulated
  // time, as the message loop would deliver it; a new request or a cancel ends the one out ---
  void start(const std::string& url, const std::string&, Answered answered) override {
    log.push_back("GET " + url);
    requests.push_back({url, nowMs, std::move(answered)});
    pendingAnswer = {nowMs + requestMs, requests.size() - 1, answer};
    if (onRequest) onRequest();
  }
  void cancel() override { ++cancels, pendingAnswer.reset(); }
  // Hands a request's answer to the widget as a late or stray delivery would.
  void deliver(std::size_t request, HttpResponse r) {
    const Answered answered = requests.at(request).answered;  // a new request may move it
    answered(std::move(r));
  }

  // --- WindowTitles ---
  void enumerate(const std::function<void(WindowRef)>& visit) override {
    for (std::size_t i = 0; i < windows.size(); ++i) visit(i);
  }
  std::string title(WindowRef w) override {
    if (w >= windows.size()) return "";
    if (windows[w].onTitleRead) windows[w].onTitleRead(windows[w]);
    return windows[w].title;
  }

  // --- simulated clock ---
  // Runs every timer tick and answer due up to now + ms, in time order, then sets the clock
  // there. An answer goes before a tick due at the same time: it was posted earlier.
  void advance(std::uint64_t ms) { runUntil(nowMs + ms); }
  void runUntil(std::uint64_t target) {
    while (!ended) {
      auto next = std::min_element(
          due.begin(), due.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
      const std::uint64_t tickAt = next == due.end() ? UINT64_MAX : next->second;
      if (pendingAnswer && pendingAnswer->atMs <= std::min(tickAt, target)) {
        const PendingAnswer p = *std::exchange(pendingAnswer, std::nullopt);
        nowMs = std::max(nowMs, p.atMs);
        deliver(p.request, p.response);
        continue;
      }
      if (tickAt > target) break;
      const ControlId id = next->first;
      nowMs = std::max(nowMs, tickAt);
      // Desktop timers repeat until switched off.
      next->second = nowMs + static_cast<std::uint64_t>(widget->controls().timer(id).intervalMs());
      widget->timerTick(id);
    }
    nowMs = std::max(nowMs, target);
  }

  // clang-format off
  struct Request { std::string url; std::uint64_t atMs; Answered answered; };
  struct PendingAnswer { std::uint64_t atMs; std::size_t request; HttpResponse response; };
  // clang-format on

  Widget* widget = nullptr;
  bool anotherInstance = false, ended = false, pointerOnWindow = false, onTop = false;
  std::uint64_t nowMs = 0;
  std::uint32_t tickBase = 0;
  std::map<ControlId, std::uint64_t> due;
  std::vector<std::string> log, dialogs, debugLines;
  std::deque<std::string> answers;
  std::map<std::string, std::string> files;
  std::vector<Request> requests;
  HttpResponse answer{true, 200, "0", FailureKind::None, 0, ""};
  std::uint64_t requestMs = 0;
  std::optional<PendingAnswer> pendingAnswer;
  int cancels = 0;
  std::function<void()> onRequest;
  std::function<void()> onDialog;  // called as each message box or prompt opens
  std::vector<FakeWindow> windows;
  FrontWindow front;  // none at first
};

// A widget on a fake desktop, wired as the Win32 adapter wires the real one: the controls are
// attached, which schedules the timers that start switched on, then the window loads.
struct Harness {
  FakeDesktop desktop;
  Widget widget{desktop, desktop, desktop, kTestService};
  Controls& c = widget.controls();

  explicit Harness(bool load = true) {
    desktop.widget = &widget;
    c.attach(&desktop);
    if (load) widget.load();
    desktop.log.clear();
  }
  // Delivers what is due now, such as the answer of a request that takes no time.
  void settle() { desktop.runUntil(desktop.nowMs); }
  // Status 0 is a failure before any answer, such as a refused connection or a time-out.
  void answerWith(std::string body, int status = 200, std::uint64_t requestMs = 0,
                  std::string headers = "") {
    const bool ok = status >= 200 && status < 300;
    const FailureKind why = status ? FailureKind::HttpStatus : FailureKind::CannotConnect;
    desktop.answer = {
        ok, status, std::move(body), ok ? FailureKind::None : why, 0, std::move(headers)};
    desktop.requestMs = requestMs;
  }
};

}  // namespace stormtally::testing
