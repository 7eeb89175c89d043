// Drawing the widget's labels and its frame on Win32.
#pragma once

#include "core/controls.h"
#include "win32/handles_win.h"

namespace stormtally {

// An owner-drawn label: its background, then its caption on one line at the top, in its own
// text colour, centred when its table row says so.
void drawLabelText(const DRAWITEMSTRUCT& item, const Label& label, HBRUSH background);

// Shape1: an outline along the window's edges, as wide as the DPI makes three pixels at 96.
void drawFrame(HWND window, HDC dc, UINT dpi, HBRUSH line);

}  // namespace stormtally
