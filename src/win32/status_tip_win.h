// The widget's status on the Win32 desktop: a tooltip over the caption and the count, and the
// same text as the count's accessible description, which screen readers read with the count.
#pragma once

#include <windows.h>

#include <string>

#include "win32/handles_win.h"

struct IAccPropServices;

namespace stormtally {

class StatusTip {
 public:
  StatusTip() = default;
  ~StatusTip() { destroy(); }
  StatusTip(const StatusTip&) = delete;
  StatusTip& operator=(const StatusTip&) = delete;

  // Makes the tooltip for the main window and ties the description to the count's label.
  void create(HWND owner, HWND countLabel);
  // Lets go of the tooltip and the description; called while both windows still exist.
  void destroy();
  // Shows the new status at once: in the open tooltip, and to screen readers.
  void setText(const std::wstring& text);
  void setDpi(UINT dpi);

  // The pointer moved within the main window, over the caption or the count or elsewhere.
  void pointerMoved(bool overTarget);
  // The pointer has rested for the hover time: show the tip when it rests on the caption or
  // the count.
  void pointerRested(bool overTarget);
  // The pointer left the main window, or a button went down: hide the tip.
  void hide();

 private:
  void place();

  HWND owner_ = nullptr;
  HWND count_ = nullptr;
  UniqueWindow tip_;
  std::wstring text_;
  bool shown_ = false;
  UINT dpi_ = 96;
  IAccPropServices* annotations_ = nullptr;
  bool comStarted_ = false;
};

}  // namespace stormtally
