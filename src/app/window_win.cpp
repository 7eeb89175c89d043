#include "app/window_win.h"

#include <windowsx.h>

#include <algorithm>
#include <initializer_list>

#include "app/dialogs_win.h"
#include "app/layout.h"
#include "app/lifecycle.h"
#include "app/text_win.h"

namespace stormtally {
namespace {

constexpr wchar_t kWindowClass[] = L"StormtallyWidget";
constexpr wchar_t kWindowTitle[] = L"x";
constexpr wchar_t kSemiboldFace[] = L"Segoe UI Semibold";
constexpr int kSemiboldWeight = 600;
constexpr int kIconId = 1;
constexpr int kChildIdBase = 100;
constexpr UINT_PTR kTimerIdBase = 1;
constexpr int kSiteBoxMaxChars = 4;
constexpr int kCascadeOffsetAt96 = 26;
constexpr std::uint64_t kMaxTableBytes = 64ull * 1024 * 1024;

// The visible and the keyboard-reachable controls, top of the stack first. Windowed controls
// lie above every label; this order is also the Tab order.
constexpr ControlId kChildren[] = {ControlId::focus,    ControlId::Command1, ControlId::Nexrad_Site,
                                   ControlId::CloseApp, ControlId::Label2,   ControlId::tstrikes,
                                   ControlId::off,      ControlId::Label1};

constexpr ControlId kTimers[] = {ControlId::Timer1, ControlId::Timer2, ControlId::Timer3,
                                 ControlId::update};

UINT_PTR timerId(ControlId id) {
  for (std::size_t i = 0; i < std::size(kTimers); ++i) {
    if (kTimers[i] == id) return kTimerIdBase + i;
  }
  return 0;
}

std::optional<ControlId> timerFromId(UINT_PTR id) {
  if (id < kTimerIdBase || id >= kTimerIdBase + std::size(kTimers)) return std::nullopt;
  return kTimers[id - kTimerIdBase];
}

// Per-monitor DPI where the system knows it (Windows 10 and later), the screen's otherwise.
UINT dpiOf(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow && window) {
    if (const UINT dpi = getDpiForWindow(window)) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

int CALLBACK noteFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool fontExists(const wchar_t* face) {
  LOGFONTW query{};
  query.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(query.lfFaceName, face, LF_FACESIZE);
  bool found = false;
  HDC screen = GetDC(nullptr);
  EnumFontFamiliesExW(screen, &query, noteFace, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found;
}

// The desktop's own message font: the default UI font.
LOGFONTW messageFont() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    return metrics.lfMessageFont;
  }
  LOGFONTW fallback{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof fallback, &fallback);
  return fallback;
}

HFONT makeFont(const std::wstring& face, int points, int weight, UINT dpi) {
  return CreateFontW(-MulDiv(points, static_cast<int>(dpi), 72), 0, 0, 0, weight, FALSE, FALSE,
                     FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str());
}

std::wstring programFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, bool anotherInstanceAtStart)
    : instance_(instance), anotherInstance_(anotherInstanceAtStart) {}

bool MainWindow::create(Widget& widget) {
  widget_ = &widget;
  navyBrush_.reset(CreateSolidBrush(kNavy));

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance_;
  wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(kIconId));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = nullptr;  // painted navy in WM_ERASEBKGND
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
  HWND hwnd = CreateWindowExW(0, kWindowClass, kWindowTitle, WS_POPUP | WS_CLIPCHILDREN,
                              work.left + cascade, work.top + cascade, client.right, client.bottom,
                              nullptr, nullptr, instance_, this);
  if (!hwnd) return false;
  window_.reset(hwnd);

  createChildren();
  applyDpi(dpiOf(hwnd));

  Controls& c = widget_->controls();
  c.setObserver(this);
  for (ControlId t : kTimers) {
    if (c.timer(t).enabled()) timerChanged(t);
  }
  return true;
}

int MainWindow::runMessageLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(window_.get(), &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

void MainWindow::createChildren() {
  const Controls& c = widget_->controls();
  for (ControlId id : kChildren) {
    const wchar_t* cls = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    std::wstring text;
    switch (id) {
      case ControlId::focus:
        cls = L"EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        text = widen(c.focus.text());
        break;
      case ControlId::Command1:
        cls = L"BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        text = L"download strikes";
        break;
      case ControlId::Nexrad_Site:
        cls = L"EDIT";
        style |= WS_TABSTOP | ES_CENTER | ES_AUTOHSCROLL;
        if (!c.Nexrad_Site.visible()) style &= ~WS_VISIBLE;
        text = widen(c.Nexrad_Site.text());
        break;
      // Labels: owner-drawn statics without SS_NOTIFY. They let the mouse through to the main
      // window, which tells the labels apart by position and stacking order, and their texts
      // stay readable by screen readers.
      case ControlId::CloseApp:
        text = widen(c.CloseApp.caption());
        break;
      case ControlId::Label2:
        text = widen(c.Label2.caption());
        break;
      case ControlId::tstrikes:
        text = widen(c.tstrikes.caption());
        break;
      case ControlId::off:
        break;
      case ControlId::Label1:
        text = widen(c.Label1.caption());
        break;
      default:
        break;
    }
    if (cls == std::wstring(L"STATIC")) style |= SS_OWNERDRAW;
    HWND h = CreateWindowExW(
        0, cls, text.c_str(), style, 0, 0, 1, 1, window_.get(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kChildIdBase + static_cast<int>(id))),
        instance_, nullptr);
    children_[id] = h;
    // Each one goes below the ones made before it: the table is the stacking order.
    SetWindowPos(h, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  HWND site = child(ControlId::Nexrad_Site);
  SendMessageW(site, EM_LIMITTEXT, kSiteBoxMaxChars, 0);
  SetWindowLongPtrW(site, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  editProc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(site, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(siteBoxProc)));
}

void MainWindow::applyDpi(UINT dpi) {
  dpi_ = dpi;
  makeFonts();
  const int d = static_cast<int>(dpi);
  for (auto [id, h] : children_) {
    const PixelRect r = pixelRect(id, d);
    MoveWindow(h, r.left, r.top, r.right - r.left, r.bottom - r.top, FALSE);
  }
  const PixelRect client = pixelRect(kClientTwips, d);
  SetWindowPos(window_.get(), nullptr, 0, 0, client.right, client.bottom,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(window_.get(), nullptr, TRUE);
}

void MainWindow::makeFonts() {
  LOGFONTW ui = messageFont();
  // The message font is sized for the system's DPI; follow the monitor's.
  const UINT systemDpi = dpiOf(nullptr);
  ui.lfHeight = MulDiv(ui.lfHeight, static_cast<int>(dpi_), static_cast<int>(systemDpi));
  defaultFont_.reset(CreateFontIndirectW(&ui));
  const std::wstring face = fontExists(kSemiboldFace) ? kSemiboldFace : ui.lfFaceName;
  captionFont_.reset(makeFont(face, 12, kSemiboldWeight, dpi_));
  siteFont_.reset(makeFont(face, 12, kSemiboldWeight, dpi_));
  countFont_.reset(makeFont(face, 18, kSemiboldWeight, dpi_));
  for (auto [id, h] : children_) {
    HGDIOBJ font = defaultFont_.get();
    if (id == ControlId::Label1) font = captionFont_.get();
    if (id == ControlId::Nexrad_Site) font = siteFont_.get();
    if (id == ControlId::tstrikes) font = countFont_.get();
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
}

HWND MainWindow::child(ControlId id) const {
  auto it = children_.find(id);
  return it == children_.end() ? nullptr : it->second;
}

// --- Desktop ---

void MainWindow::setWindowPos(InsertAfter insertAfter, unsigned flags) {
  SetWindowPos(window_.get(), insertAfter == InsertAfter::TopMost ? HWND_TOPMOST : HWND_NOTOPMOST,
               0, 0, 0, 0, flags);
}

void MainWindow::repaint() {
  RedrawWindow(window_.get(), nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void MainWindow::beginCaptionDrag() {
  pressed_.reset();  // the window manager's move loop takes the button's release
  ReleaseCapture();
  SendMessageW(window_.get(), WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void MainWindow::focusParkingBox() {
  SetFocus(child(ControlId::focus));
}

void MainWindow::endProgram() {
  ExitProcess(0);
}

void MainWindow::messageBox(const std::string& text, const std::string& title, int style) {
  showMessage(window_.get(), text, title, style);
}

std::string MainWindow::inputBox(const std::string& prompt, const std::string& title,
                                 const std::string& defaultText, int leftTwips, int topTwips) {
  const POINT topLeft{twipsToPixels(leftTwips, static_cast<int>(dpi_)),
                      twipsToPixels(topTwips, static_cast<int>(dpi_))};
  return showInputPrompt(window_.get(), prompt, title, defaultText, topLeft);
}

std::optional<std::string> MainWindow::readFileBesideProgram(const std::string& name) {
  const std::wstring path = programFolder() + L"\\" + widen(name);
  UniqueKernelHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) ||
      static_cast<std::uint64_t>(size.QuadPart) > kMaxTableBytes) {
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  if (!bytes.empty() &&
      !ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) {
    return std::nullopt;
  }
  bytes.resize(got);
  return bytes;
}

// --- ControlObserver ---

void MainWindow::textChanged(ControlId id) {
  const Controls& c = widget_->controls();
  HWND h = child(id);
  if (!h) return;
  if (id == ControlId::Nexrad_Site) {
    mirroringText_ = true;
    SetWindowTextW(h, widen(c.Nexrad_Site.text()).c_str());
    mirroringText_ = false;
  } else if (id == ControlId::tstrikes) {
    SetWindowTextW(h, widen(c.tstrikes.caption()).c_str());
    InvalidateRect(h, nullptr, TRUE);
  }
}

void MainWindow::visibleChanged(ControlId id) {
  if (id != ControlId::Nexrad_Site) return;
  ShowWindow(child(id), widget_->controls().Nexrad_Site.visible() ? SW_SHOWNA : SW_HIDE);
}

void MainWindow::colourChanged(ControlId id) {
  if (HWND h = child(id)) InvalidateRect(h, nullptr, TRUE);
}

void MainWindow::timerChanged(ControlId id) {
  const Timer& t = widget_->controls().timer(id);
  if (t.enabled()) {
    SetTimer(window_.get(), timerId(id), static_cast<UINT>(t.intervalMs()), nullptr);
  } else {
    KillTimer(window_.get(), timerId(id));
  }
}

// --- messages ---

std::optional<ControlId> MainWindow::labelAt(LPARAM lParam) const {
  return controlAt(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), static_cast<int>(dpi_),
                   widget_->controls().Nexrad_Site.visible());
}

void MainWindow::mouseButton(int button, bool down, LPARAM lParam) {
  const std::optional<ControlId> here = labelAt(lParam);
  if (down) {
    pressed_ = here;
    if (!here) return;
    SetCapture(window_.get());
    widget_->mouseDown(*here, button);
    return;
  }
  // The release belongs to the label the button went down on, as with a captured mouse.
  const std::optional<ControlId> target = pressed_ ? pressed_ : here;
  pressed_.reset();
  if (GetCapture() == window_.get()) ReleaseCapture();
  if (!target) return;
  widget_->mouseUp(*target, button);
  if (button == kLeftButton && here == target) widget_->click(*target);
}

const Label* MainWindow::labelFor(HWND h) const {
  const Controls& c = widget_->controls();
  for (const Label* label : {&c.CloseApp, &c.Label2, &c.tstrikes, &c.off, &c.Label1}) {
    if (child(label->id()) == h) return label;
  }
  return nullptr;
}

void MainWindow::drawLabel(const DRAWITEMSTRUCT& item) {
  const Label* label = labelFor(item.hwndItem);
  FillRect(item.hDC, &item.rcItem, static_cast<HBRUSH>(navyBrush_.get()));
  if (!label || label->caption().empty()) return;
  const std::wstring text = widen(label->caption());
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0));
  HGDIOBJ old = SelectObject(item.hDC, font);
  // One line, centred, top-aligned. A text wider than its label (a long count, or a fallback
  // face wider than the intended one) is drawn in a smaller size of the same face, never
  // wrapped or cut.
  UniqueGdiObject smaller;
  SIZE size{};
  GetTextExtentPoint32W(item.hDC, text.c_str(), static_cast<int>(text.size()), &size);
  const int room = item.rcItem.right - item.rcItem.left;
  if (size.cx > room && room > 0) {
    LOGFONTW lf{};
    GetObjectW(font, sizeof lf, &lf);
    lf.lfHeight = MulDiv(lf.lfHeight, room, size.cx);
    lf.lfWidth = 0;
    smaller.reset(CreateFontIndirectW(&lf));
    SelectObject(item.hDC, smaller.get());
  }
  SetTextColor(item.hDC, label->foreColour());
  SetBkMode(item.hDC, TRANSPARENT);
  RECT r = item.rcItem;
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &r,
            DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(item.hDC, old);
}

void MainWindow::paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window_.get(), &ps);
  RECT r;
  GetClientRect(window_.get(), &r);
  const int w = std::max(1, MulDiv(kFrameWidthAt96, static_cast<int>(dpi_), kBaseDpi));
  HBRUSH white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  const RECT edges[] = {{r.left, r.top, r.right, r.top + w},
                        {r.left, r.bottom - w, r.right, r.bottom},
                        {r.left, r.top, r.left + w, r.bottom},
                        {r.right - w, r.top, r.right, r.bottom}};
  for (const RECT& e : edges) FillRect(dc, &e, white);
  EndPaint(window_.get(), &ps);
}

LRESULT CALLBACK MainWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self || !self->widget_ || !self->window_) {
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  return self->handle(message, wParam, lParam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = window_.get();
  switch (message) {
    case WM_ERASEBKGND: {
      RECT r;
      GetClientRect(hwnd, &r);
      FillRect(reinterpret_cast<HDC>(wParam), &r, static_cast<HBRUSH>(navyBrush_.get()));
      return 1;
    }
    case WM_PAINT:
      paint();
      return 0;
    case WM_CTLCOLOREDIT:
      if (reinterpret_cast<HWND>(lParam) == child(ControlId::Nexrad_Site)) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, kGrey);
        SetBkColor(dc, kNavy);
        return reinterpret_cast<LRESULT>(navyBrush_.get());
      }
      break;  // the parking box keeps the system's colours
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
      if (over) widget_->mouseMove(*over);
      return 0;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam) - kChildIdBase;
      if (id == static_cast<int>(ControlId::Command1) && HIWORD(wParam) == BN_CLICKED) {
        widget_->command1Pressed();
        return 0;
      }
      // Enter on the focused button arrives as the dialog's OK.
      if (LOWORD(wParam) == IDOK && GetFocus() == child(ControlId::Command1)) {
        widget_->command1Pressed();
        return 0;
      }
      if (id == static_cast<int>(ControlId::Nexrad_Site) && HIWORD(wParam) == EN_CHANGE &&
          !mirroringText_) {
        HWND site = child(ControlId::Nexrad_Site);
        std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(site)) + 1, L'\0');
        text.resize(static_cast<std::size_t>(
            GetWindowTextW(site, text.data(), static_cast<int>(text.size()))));
        widget_->siteBoxEdited(narrow(text));
        return 0;
      }
      break;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        // Remember which control had the keyboard, to give it back on return.
        HWND focused = GetFocus();
        if (focused && GetParent(focused) == hwnd) lastFocus_ = focused;
        return 0;
      }
      // The keyboard goes to the control that had it last, at first to the parking box.
      SetFocus(lastFocus_ && IsWindowVisible(lastFocus_) ? lastFocus_ : child(ControlId::focus));
      widget_->activate();
      return 0;
    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd, nullptr, suggested->left, suggested->top, 0, 0,
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
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK MainWindow::siteBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  return self->handleSiteBox(message, wParam, lParam);
}

LRESULT MainWindow::handleSiteBox(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND site = child(ControlId::Nexrad_Site);
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
