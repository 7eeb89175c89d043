// A fake desktop for the widget's core: records every call in order, runs timers on a
// simulated clock, answers HTTP requests from a script and offers a fake list of windows.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/controls.h"
#include "app/desktop.h"
#include "app/widget.h"
#include "query/http_client.h"
#include "viewer/window_titles.h"

namespace stormtally::testing {

inline constexpr const char* kTestService = "https://strikes.test";

struct FakeWindow {
  std::string title;
  // Called when the title is read, just before it is handed over.
  std::function<void(FakeWindow&)> beforeTextRead;
};

class FakeDesktop : public Desktop, public ControlObserver, public HttpClient, public WindowTitles {
 public:
  // --- Desktop ---
  bool anotherInstanceAtStart() override { return anotherInstance; }
  void setWindowPos(InsertAfter insertAfter, unsigned flags) override {
    char buf[64];
    std::snprintf(buf, sizeof buf, "SetWindowPos(%s,0x%X)",
                  insertAfter == InsertAfter::TopMost ? "TOPMOST" : "NOTOPMOST", flags);
    log.push_back(buf);
  }
  void repaint() override { log.push_back("repaint"); }
  void beginCaptionDrag() override { log.push_back("drag"); }
  void focusParkingBox() override { log.push_back("focus"); }
  void endProgram() override {
    log.push_back("end");
    ended = true;
  }
  std::uint32_t tickCount() override { return static_cast<std::uint32_t>(tickBase + nowMs); }
  void messageBox(const std::string& text, const std::string& title, int style) override {
    log.push_back("messageBox(" + title + "," + std::to_string(style) + ")");
    messages.push_back({text, title, style});
    if (onMessageBox) onMessageBox();
  }
  std::string inputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText, int leftTwips, int topTwips) override {
    log.push_back("inputBox(" + prompt + ")");
    prompts.push_back({prompt, title, defaultText, leftTwips, topTwips});
    if (answers.empty()) return "";
    std::string answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<std::string> readFileBesideProgram(const std::string& name) override {
    log.push_back("read(" + name + ")");
    auto it = files.find(name);
    if (it == files.end()) return std::nullopt;
    return it->second;
  }

  // --- ControlObserver: timers run on the simulated clock ---
  void timerChanged(ControlId id) override {
    Timer& t = widget->controls().timer(id);
    log.push_back(std::string(controlName(id)) + (t.enabled() ? " on" : " off"));
    if (t.enabled()) {
      due[id] = nowMs + static_cast<std::uint64_t>(t.intervalMs());
    } else {
      due.erase(id);
    }
  }

  // --- HttpClient: answers from a script; each answer may take simulated time ---
  struct Answer {
    HttpResponse response;
    std::uint64_t takesMs = 0;
  };
  HttpResponse get(const std::string& url) override {
    log.push_back("GET " + url);
    requests.push_back({url, nowMs});
    Answer a = nextAnswer ? nextAnswer(url) : Answer{{true, 200, "0", ""}, 0};
    nowMs += a.takesMs;
    return a.response;
  }

  // --- WindowTitles ---
  void enumerate(const std::function<void(WindowRef)>& visit) override {
    for (std::size_t i = 0; i < windows.size(); ++i) visit(i);
  }
  std::string title(WindowRef w) override {
    if (w >= windows.size()) return "";
    if (windows[w].beforeTextRead) windows[w].beforeTextRead(windows[w]);
    return windows[w].title;
  }

  // --- simulated clock ---
  // Runs every timer tick due up to now + ms, in time order, then sets the clock there.
  void advance(std::uint64_t ms) { runUntil(nowMs + ms); }
  void runUntil(std::uint64_t target) {
    while (!ended) {
      std::optional<std::pair<std::uint64_t, ControlId>> next;
      for (auto& [id, at] : due) {
        if (at <= target && (!next || at < next->first)) next = {at, id};
      }
      if (!next) break;
      nowMs = std::max(nowMs, next->first);
      // Desktop timers repeat until switched off.
      due[next->second] =
          nowMs + static_cast<std::uint64_t>(widget->controls().timer(next->second).intervalMs());
      widget->timerTick(next->second);
    }
    nowMs = std::max(nowMs, target);
  }

  struct Message {
    std::string text, title;
    int style;
  };
  struct Prompt {
    std::string prompt, title, defaultText;
    int left, top;
  };
  struct Request {
    std::string url;
    std::uint64_t atMs;
  };

  Widget* widget = nullptr;
  bool anotherInstance = false;
  bool ended = false;
  std::uint64_t nowMs = 0;
  std::uint32_t tickBase = 0;
  std::map<ControlId, std::uint64_t> due;
  std::vector<std::string> log;
  std::vector<Message> messages;
  std::vector<Prompt> prompts;
  std::deque<std::string> answers;
  std::map<std::string, std::string> files;
  std::vector<Request> requests;
  std::function<Answer(const std::string&)> nextAnswer;
  std::function<void()> onMessageBox;
  std::vector<FakeWindow> windows;
};

// A widget on a fake desktop, wired as the Win32 adapter wires the real one: the timers that
// start switched on are scheduled, then the window loads.
struct Harness {
  FakeDesktop desktop;
  Widget widget{desktop, desktop, desktop, kTestService};
  Controls& c = widget.controls();

  explicit Harness(bool load = true) {
    desktop.widget = &widget;
    c.setObserver(&desktop);
    for (ControlId t :
         {ControlId::Timer1, ControlId::Timer2, ControlId::Timer3, ControlId::update}) {
      if (c.timer(t).enabled()) desktop.timerChanged(t);
    }
    desktop.log.clear();
    if (load) widget.load();
  }
  void answerWith(std::string body, int status = 200, std::uint64_t takesMs = 0) {
    desktop.nextAnswer = [=](const std::string&) {
      return FakeDesktop::Answer{{status >= 200 && status < 300, status, body, ""}, takesMs};
    };
  }
  void failWith(std::string reason, std::uint64_t takesMs = 0) {
    desktop.nextAnswer = [=](const std::string&) {
      return FakeDesktop::Answer{{false, 0, "", reason}, takesMs};
    };
  }
};

}  // namespace stormtally::testing
