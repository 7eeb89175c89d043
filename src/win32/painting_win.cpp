#include "win32/painting_win.h"

#include <algorithm>
#include <string>

#include "core/layout.h"
#include "win32/text_win.h"

namespace stormtally {

void drawLabelText(const DRAWITEMSTRUCT& item, const Label& label, HBRUSH background) {
  FillRect(item.hDC, &item.rcItem, background);
  if (label.caption().empty()) return;
  const std::wstring text = widen(label.caption());
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(item.hwndItem, WM_GETFONT, 0, 0));
  HGDIOBJ old = SelectObject(item.hDC, font);
  // A text wider than its label (a long count, or a fallback face wider than the intended
  // one) is drawn in a smaller size of the same face, never wrapped or cut.
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
  SetTextColor(item.hDC, label.foreColour());
  SetBkMode(item.hDC, TRANSPARENT);
  RECT r = item.rcItem;
  const UINT align = label.controlRow().centred ? DT_CENTER : DT_LEFT;
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &r,
            align | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(item.hDC, old);
}

void drawFrame(HWND window, HDC dc, UINT dpi, HBRUSH line) {
  RECT r;
  GetClientRect(window, &r);
  const int w = std::max(1, MulDiv(kFrameWidthAt96, static_cast<int>(dpi), kBaseDpi));
  const RECT edges[] = {{r.left, r.top, r.right, r.top + w},
                        {r.left, r.bottom - w, r.right, r.bottom},
                        {r.left, r.top, r.left + w, r.bottom},
                        {r.right - w, r.top, r.right, r.bottom}};
  for (const RECT& e : edges) FillRect(dc, &e, line);
}

}  // namespace stormtally
