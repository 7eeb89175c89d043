// Dots per inch and fonts on the Win32 desktop.
#pragma once

#include "core/controls.h"
#include "win32/handles_win.h"

namespace stormtally {

// The window's DPI where the system knows it per monitor (Windows 10 and later), the
// screen's otherwise; nullptr asks for the screen's.
UINT dpiOf(HWND window);

// A control's font at the given DPI: its own face, size and weight, or the desktop's message
// font when it has none. The message font's face stands in for a face the system lacks.
HFONT makeFont(const FontSpec& font, UINT dpi);

}  // namespace stormtally
