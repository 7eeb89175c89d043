#include "win32/window_win.h"

#include <windowsx.h>

#include <algorithm>

#include "core/layout.h"
#include "lifecycle/lifecycle.h"
#include "win32/fonts_win.h"
#include "win32/painting_win.h"
#include "win32/resource_ids.h"
#include "win32/text_win.h"

namespace stormtally {
namespace {

constexpr wchar_t kWindowClass[] = L"StormtallyWidget";
constexpr wchar_t kWindowTitle[] = L"x";
constexpr int kChildIdBase = 100;
constexpr UINT_PTR kTimerIdBase = 1;
constexpr int kCascadeOffsetAt96 = 26;

UINT_PTR timerId(ControlId id) {
  return kTimerIdBase + static_cast<UINT_PTR>(id);
}

std::optional<ControlId> timerFromId(UINT_PTR id) {
  if (id < kTimerIdBase || id >= kTimerIdBase + kControlCount) return std::nullopt;
  const auto control = static_cast<ControlId>(id - kTimerIdBase);
  if (controlRow(control).kind != ControlKind::Timer) return std::nullopt;
  return control;
}

std::wstring windowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// The windows of the table's controls in the order they are made, each below the ones before:
// those that take the keyboard first, in tab order (the order Tab follows), then the labels in
// the table's stacking order.
std::vector<const ControlSpec*> windowOrder() {
  std::vector<const ControlSpec*> order;
  for (const ControlSpec& row : kControlTable) {
    if (row.ownWindow && row.kind != ControlKind::Label) order.push_back(&row);
  }
  std::stable_sort(order.begin(), order.end(), [](const ControlSpec* a, const ControlSpec* b) {
    return a->tabPlace < b->tabPlace;
  });
  for (const ControlSpec& row : kControlTable) {
    if (row.ownWindow && row.kind == ControlKind::Label) order.push_back(&row);
  }
  return order;
}

// The window class, style and text of a control's window. Labels are owner-drawn statics
// without SS_NOTIFY: they let the mouse through to the main window, which tells the labels
// apart by position and stacking order, and their texts stay readable by screen readers.
struct ChildWindow {
  const wchar_t* cls;
  DWORD style;
  std::wstring text;
};

ChildWindow childWindow(const Control& control) {
  const ControlSpec& row = control.controlRow();
  const DWORD base = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  switch (row.kind) {
    case ControlKind::TextBox: {
      const auto& box = static_cast<const TextBox&>(control);
      DWORD style = base | WS_TABSTOP | ES_AUTOHSCROLL | (row.centred ? ES_CENTER : 0);
      if (!box.visible()) style &= ~WS_VISIBLE;
      return {L"EDIT", style, widen(box.text())};
    }
    case ControlKind::CommandButton:
      return {L"BUTTON", base | WS_TABSTOP | BS_PUSHBUTTON, widen(row.text)};
    case ControlKind::CheckBox:
      return {L"BUTTON", base | WS_TABSTOP | BS_AUTOCHECKBOX, widen(row.text)};
    case ControlKind::Label:
      return {L"STATIC", base | SS_OWNERDRAW, widen(static_cast<const Label&>(control).caption())};
    case ControlKind::Timer:
    case ControlKind::Shape:
      break;
  }
  return {L"STATIC", base, L""};
}

}  // namespace

bool MainWindow::create(Widget& widget) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance_;
  wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_STORMTALLY));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_STORMTALLY),
                                             IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = nullptr;  // painted in WM_ERASEBKGND
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&wc)) return false;

  dpi_ = dpiOf(nullptr);
  const PixelRect client = pixelRect(kClientTwips, static_cast<int>(dpi_));
  // A frameless popup: the client area is the whole window. Popups get no default place from
  // the system, so it starts where the system cascades new windows: near the top left of the
  // work area.
  RECT work{0, 0, 0, 0};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int cascade = MulDiv(kCascadeOffsetAt96, static_cast<int>(dpi_), kBaseDpi);
  if (!CreateWindowExW(0, kWindowClass, kWindowTitle, WS_POPUP | WS_CLIPCHILDREN,
                       work.left + cascade, work.top + cascade, client.right, client.bottom,
                       nullptr, nullptr, instance_, this)) {
    return false;
  }
  widget_ = &widget;
  createChildren();
  applyDpi(dpiOf(hwnd_));

  widget.controls().attach(this);
  statusTip_.create(hwnd_, child(ControlId::tstrikes));
  statusTip_.setDpi(dpi_);
  statusChanged();
  return true;
}

void MainWindow::close() {
  if (hwnd_) DestroyWindow(hwnd_);
}

int MainWindow::runMessageLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(hwnd_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

void MainWindow::createChildren() {
  const Controls& c = widget_->controls();
  for (const ControlSpec* row : windowOrder()) {
    const ChildWindow w = childWindow(c[row->id]);
    HWND h = CreateWindowExW(
        0, w.cls, w.text.c_str(), w.style, 0, 0, 1, 1, hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kChildIdBase + static_cast<int>(row->id))),
        instance_, nullptr);
    children_.push_back({row->id, h, UniqueGdiObject()});
    SetWindowPos(h, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (row->kind == ControlKind::TextBox && row->maxChars > 0) {
      SendMessageW(h, EM_LIMITTEXT, static_cast<WPARAM>(row->maxChars), 0);
    }
  }
  HWND site = child(ControlId::Nexrad_Site);
  SetWindowLongPtrW(site, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  editProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(site, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(siteBoxProc)));
}

void MainWindow::applyDpi(UINT dpi) {
  dpi_ = dpi;
  statusTip_.setDpi(dpi);
  applyFonts();
  const int d = static_cast<int>(dpi);
  for (const Child& ch : children_) {
    const PixelRect r = pixelRect(ch.id, d);
    MoveWindow(ch.hwnd, r.left, r.top, r.right - r.left, r.bottom - r.top, FALSE);
  }
  const PixelRect client = pixelRect(kClientTwips, d);
  SetWindowPos(hwnd_, nullptr, 0, 0, client.right, client.bottom,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

// Each control is handed its new font before the old one is deleted: a control must never
// hold a deleted font, even between two messages.
void MainWindow::applyFonts() {
  for (Child& ch : children_) {
    UniqueGdiObject font(makeFont(controlRow(ch.id).font, dpi_));
    SendMessageW(ch.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    std::swap(ch.font, font);
  }
}

HBRUSH MainWindow::brush(Rgb colour) {
  UniqueGdiObject& b = brushes_[colour];
  if (!b) b.reset(CreateSolidBrush(colour));
  return static_cast<HBRUSH>(b.get());
}

HWND MainWindow::child(ControlId id) const {
  for (const Child& ch : children_) {
    if (ch.id == id) return ch.hwnd;
  }
  return nullptr;
}

std::optional<ControlId> MainWindow::childId(HWND h) const {
  for (const Child& ch : children_) {
    if (ch.hwnd == h) return ch.id;
  }
  return std::nullopt;
}

void MainWindow::beginCaptionDrag() {
  pressed_.reset();  // the window manager's move loop takes the button's release
  ReleaseCapture();
  SendMessageW(hwnd_, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

// --- ControlObserver ---

void MainWindow::textChanged(ControlId id) {
  HWND h = child(id);
  if (!h) return;
  const Control& control = widget_->controls()[id];
  if (controlRow(id).kind == ControlKind::TextBox) {
    mirroringText_ = true;
    SetWindowTextW(h, widen(static_cast<const TextBox&>(control).text()).c_str());
    mirroringText_ = false;
  } else if (controlRow(id).kind == ControlKind::Label) {
    SetWindowTextW(h, widen(static_cast<const Label&>(control).caption()).c_str());
    InvalidateRect(h, nullptr, TRUE);
  }
  statusChanged();
}

void MainWindow::visibleChanged(ControlId id) {
  if (HWND h = child(id)) {
    const auto& box = static_cast<const TextBox&>(widget_->controls()[id]);
    ShowWindow(h, box.visible() ? SW_SHOWNA : SW_HIDE);
  }
  statusChanged();
}

// The status is made from the controls and the last request; any change of either reaches it.
void MainWindow::statusChanged() {
  if (widget_) statusTip_.setText(widen(widget_->statusText()));
}

void MainWindow::colourChanged(ControlId id) {
  if (HWND h = child(id)) InvalidateRect(h, nullptr, TRUE);
}

void MainWindow::timerChanged(ControlId id) {
  const Timer& t = widget_->controls().timer(id);
  if (t.enabled()) {
    SetTimer(hwnd_, timerId(id), static_cast<UINT>(t.intervalMs()), nullptr);
  } else {
    KillTimer(hwnd_, timerId(id));
  }
}

// --- drawing ---

void MainWindow::drawLabel(const DRAWITEMSTRUCT& item) {
  const std::optional<ControlId> id = childId(item.hwndItem);
  if (!id || controlRow(*id).kind != ControlKind::Label) return;
  drawLabelText(item, static_cast<const Label&>(widget_->controls()[*id]),
                brush(controlRow(*id).back));
}

void MainWindow::paintFrame() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  drawFrame(hwnd_, dc, dpi_, brush(controlRow(ControlId::Shape1).fore));
  EndPaint(hwnd_, &ps);
}

// --- messages ---

std::optional<ControlId> MainWindow::labelAt(LPARAM lParam) const {
  return controlAt(widget_->controls(), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam),
                   static_cast<int>(dpi_));
}

bool MainWindow::overStatusTarget(LPARAM lParam) const {
  const std::optional<ControlId> here = labelAt(lParam);
  return here == ControlId::Label1 || here == ControlId::tstrikes;
}

void MainWindow::mouseButton(int button, bool down, LPARAM lParam) {
  const std::optional<ControlId> here = labelAt(lParam);
  if (down) {
    statusTip_.hide();
    pressed_ = here;
    if (!here) return;
    SetCapture(hwnd_);
    if (here == ControlId::Label1) widget_->captionPressed(button);
    return;
  }
  // The release belongs to the label the button went down on, as with a captured mouse.
  const std::optional<ControlId> target = pressed_ ? pressed_ : here;
  pressed_.reset();
  if (GetCapture() == hwnd_) ReleaseCapture();
  if (target == ControlId::Label1) widget_->captionReleased(button);
  if (button != kLeftButton || here != target) return;
  if (target == ControlId::CloseApp) widget_->closeAsked();
  if (target == ControlId::off) widget_->siteBoxAsked();
}

void MainWindow::activated(bool active) {
  if (!active) {
    // Remember which control had the keyboard, to give it back on return.
    HWND focused = GetFocus();
    if (focused && GetParent(focused) == hwnd_) lastFocus_ = focused;
    return;
  }
  // The keyboard goes to the control that had it last, at first to the parking box.
  SetFocus(lastFocus_ && IsWindowVisible(lastFocus_) ? lastFocus_ : child(ControlId::focus));
  widget_->activate();
}

LRESULT CALLBACK MainWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = hwnd;
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self && message == WM_DESTROY) self->statusTip_.destroy();
  if (self && message == WM_NCDESTROY) {
    // From here on no message reaches the widget, which may be gone before this object.
    self->widget_ = nullptr;
    self->hwnd_ = nullptr;
    self->children_.clear();
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  }
  if (!self || !self->widget_) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->handle(message, wParam, lParam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(hwnd_, &r);
      FillRect(reinterpret_cast<HDC>(wParam), &r, brush(kNavy));
      return 1;
    }
    case WM_PAINT:
      paintFrame();
      return 0;
    case WM_CTLCOLOREDIT:
      if (const std::optional<ControlId> id = childId(reinterpret_cast<HWND>(lParam))) {
        const ControlSpec& row = controlRow(*id);
        if (row.back == kSystemColour) break;  // the system's colours
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, row.fore);
        SetBkColor(dc, row.back);
        return reinterpret_cast<LRESULT>(brush(row.back));
      }
      break;
    case WM_DRAWITEM:
      drawLabel(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_TIMER:
      if (std::optional<ControlId> t = timerFromId(wParam)) {
        widget_->timerTick(*t);
        return 0;
      }
      break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP: {
      const bool left = message == WM_LBUTTONDOWN || message == WM_LBUTTONUP;
      const bool right = message == WM_RBUTTONDOWN || message == WM_RBUTTONUP;
      const bool down =
          message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
      mouseButton(left ? kLeftButton : right ? kRightButton : kMiddleButton, down, lParam);
      return 0;
    }
    case WM_MOUSEMOVE: {
      const std::optional<ControlId> over = pressed_ ? pressed_ : labelAt(lParam);
      statusTip_.pointerMoved(!pressed_ && overStatusTarget(lParam));
      if (over == ControlId::CloseApp) widget_->pointerOnCloseMark();
      return 0;
    }
    case WM_MOUSEHOVER:
      statusTip_.pointerRested(!pressed_ && overStatusTarget(lParam));
      return 0;
    case WM_MOUSELEAVE:
      statusTip_.hide();
      return 0;
    case WM_COMMAND: {
      const auto id = static_cast<ControlId>(LOWORD(wParam) - kChildIdBase);
      // Enter on the focused button arrives as the dialog's OK.
      const bool enterOnCommand1 =
          LOWORD(wParam) == IDOK && GetFocus() == child(ControlId::Command1);
      if ((id == ControlId::Command1 && HIWORD(wParam) == BN_CLICKED) || enterOnCommand1) {
        widget_->command1Pressed();
        return 0;
      }
      if (id == ControlId::Nexrad_Site && HIWORD(wParam) == EN_CHANGE && !mirroringText_) {
        widget_->siteBoxEdited(narrow(windowText(child(ControlId::Nexrad_Site))));
        return 0;
      }
      break;
    }
    case WM_ACTIVATE:
      activated(LOWORD(wParam) != WA_INACTIVE);
      return 0;
    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      applyDpi(HIWORD(wParam));
      return 0;
    }
    case WM_CLOSE:
      widget_->closeRequested();
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wParam) widget_->terminate();
      return 0;
    case WM_DESTROY:
      widget_->unload();
      return 0;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK MainWindow::siteBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  return self->handleSiteBox(hwnd, message, wParam, lParam);
}

LRESULT MainWindow::handleSiteBox(HWND site, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_GETDLGCODE: {
      // Enter belongs to the site box, not to the keyboard navigation.
      const LRESULT code = CallWindowProcW(editProc_, site, message, wParam, lParam);
      const MSG* msg = reinterpret_cast<const MSG*>(lParam);
      if (msg && (msg->message == WM_KEYDOWN || msg->message == WM_CHAR) &&
          msg->wParam == VK_RETURN) {
        return code | DLGC_WANTMESSAGE;
      }
      return code;
    }
    case WM_CHAR: {
      if (!widget_) break;
      int key = static_cast<int>(wParam);
      widget_->siteBoxKeyPress(key);
      // A single-line box only beeps at Enter; the lookup has answered it.
      if (wParam == VK_RETURN) return 0;
      break;
    }
  }
  return CallWindowProcW(editProc_, site, message, wParam, lParam);
}

}  // namespace stormtally
