// Where the controls lie in pixels at a given DPI, and which one a point falls on.
#pragma once

#include <optional>

#include "core/controls.h"

namespace stormtally {

constexpr int kTwipsPerInch = 1440;
constexpr int kBaseDpi = 96;

struct PixelRect {
  int left, top, right, bottom;  // right and bottom exclusive
  bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

constexpr TwipsRect kClientTwips{0, 0, 2550, 1110};
constexpr int kFrameWidthAt96 = 3;

// Twips to pixels at the given dots per inch, rounded to nearest.
int twipsToPixels(int twips, int dpi);
PixelRect pixelRect(const TwipsRect& r, int dpi);
inline PixelRect pixelRect(ControlId id, int dpi) {
  return pixelRect(controlRow(id).rect, dpi);
}

// The control a mouse event at a client pixel lands on: the topmost label, or text box of its
// own window while shown, whose place holds the point. Nothing elsewhere.
std::optional<ControlId> controlAt(const Controls& controls, int x, int y, int dpi);

}  // namespace stormtally
