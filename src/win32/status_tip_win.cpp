// The tooltip is a tracking tooltip that the window shows and hides itself: a tooltip that
// watches the mouse on its own (TTF_SUBCLASS) gives up on a window that lets the mouse through
// from its labels. Hover tracking ends with each WM_MOUSEHOVER, so every move arms it again.
//
// Screen readers learn the status through Dynamic Annotation: the count's label keeps its
// text, the count, as its accessible name, and carries the status as its description.
#include "win32/status_tip_win.h"

#include <commctrl.h>
#include <initguid.h>
#include <objbase.h>
#include <oleacc.h>

namespace stormtally {
namespace {

constexpr UINT_PTR kToolId = 1;
// Wide enough that the longest status line (the trend with both counts) keeps to one line.
constexpr int kMaxWidthAt96 = 360;
constexpr int kGapAt96 = 2;

TTTOOLINFOW toolInfo(HWND owner, const wchar_t* text) {
  TTTOOLINFOW info{};
  info.cbSize = sizeof info;
  info.uFlags = TTF_TRACK | TTF_ABSOLUTE;
  info.hwnd = owner;
  info.uId = kToolId;
  info.lpszText = const_cast<wchar_t*>(text);
  return info;
}

}  // namespace

void StatusTip::create(HWND owner, HWND countLabel) {
  owner_ = owner;
  count_ = countLabel;
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  // The tip has no owner: under Wine a topmost popup owned by the widget kept the widget's
  // first raise at start from putting it into the always-on-top band.
  tip_.reset(CreateWindowExW(
      WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE)), nullptr));
  if (tip_) {
    TTTOOLINFOW info = toolInfo(owner_, text_.c_str());
    SendMessageW(tip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    setDpi(dpi_);
  }
  comStarted_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  if (comStarted_ && count_) {
    CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                     reinterpret_cast<void**>(&annotations_));
  }
}

void StatusTip::destroy() {
  if (annotations_) {
    MSAAPROPID props[] = {PROPID_ACC_DESCRIPTION};
    annotations_->ClearHwndProps(count_, OBJID_CLIENT, CHILDID_SELF, props, 1);
    annotations_->Release();
    annotations_ = nullptr;
  }
  if (comStarted_) CoUninitialize();
  comStarted_ = false;
  tip_.reset();
}

void StatusTip::setText(const std::wstring& text) {
  if (text == text_) return;
  text_ = text;
  if (tip_) {
    TTTOOLINFOW info = toolInfo(owner_, text_.c_str());
    SendMessageW(tip_.get(), TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
    if (shown_) place();
  }
  if (annotations_) {
    annotations_->SetHwndPropStr(count_, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_DESCRIPTION,
                                 text_.c_str());
    NotifyWinEvent(EVENT_OBJECT_DESCRIPTIONCHANGE, count_, OBJID_CLIENT, CHILDID_SELF);
  }
}

void StatusTip::setDpi(UINT dpi) {
  dpi_ = dpi;
  if (tip_) SendMessageW(tip_.get(), TTM_SETMAXTIPWIDTH, 0, MulDiv(kMaxWidthAt96, dpi, 96));
}

void StatusTip::pointerMoved(bool overTarget) {
  if (!overTarget) return hide();
  TRACKMOUSEEVENT track{sizeof track, TME_HOVER | TME_LEAVE, owner_, HOVER_DEFAULT};
  TrackMouseEvent(&track);
}

void StatusTip::pointerRested(bool overTarget) {
  if (!tip_ || !overTarget || shown_) return;
  shown_ = true;
  place();
  TTTOOLINFOW info = toolInfo(owner_, text_.c_str());
  SendMessageW(tip_.get(), TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&info));
}

void StatusTip::hide() {
  if (!tip_ || !shown_) return;
  shown_ = false;
  TTTOOLINFOW info = toolInfo(owner_, text_.c_str());
  SendMessageW(tip_.get(), TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&info));
}

// Just below the widget, or above it where the work area ends below; always within the work
// area, so no line is cut off.
void StatusTip::place() {
  TTTOOLINFOW info = toolInfo(owner_, text_.c_str());
  const LRESULT size =
      SendMessageW(tip_.get(), TTM_GETBUBBLESIZE, 0, reinterpret_cast<LPARAM>(&info));
  const int width = LOWORD(size), height = HIWORD(size);
  RECT widget{};
  GetWindowRect(owner_, &widget);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(owner_, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& work = monitor.rcWork;
  const int gap = MulDiv(kGapAt96, static_cast<int>(dpi_), 96);
  int y = widget.bottom + gap;
  if (y + height > work.bottom) y = widget.top - gap - height;
  int x = widget.left;
  if (x + width > work.right) x = work.right - width;
  if (x < work.left) x = work.left;
  if (y < work.top) y = work.top;
  SendMessageW(tip_.get(), TTM_TRACKPOSITION, 0, MAKELPARAM(x, y));
}

}  // namespace stormtally
