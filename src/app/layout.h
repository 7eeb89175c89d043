// Where the controls the user can see lie, in twips, and which one a point falls on.
#pragma once

#include <optional>

#include "app/controls.h"

namespace stormtally {

constexpr int kTwipsPerInch = 1440;
constexpr int kBaseDpi = 96;

struct TwipsRect {
  int left, top, width, height;
};

struct PixelRect {
  int left, top, right, bottom;  // right and bottom exclusive
  bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

constexpr TwipsRect kClientTwips{0, 0, 2550, 1110};
constexpr TwipsRect kShape1Twips{0, 0, 2535, 1095};
constexpr int kFrameWidthAt96 = 3;

// The twips rectangle of a control that has a place in the window.
TwipsRect twipsRect(ControlId id);

// Twips to pixels at the given dots per inch, rounded to nearest.
int twipsToPixels(int twips, int dpi);
PixelRect pixelRect(ControlId id, int dpi);
PixelRect pixelRect(const TwipsRect& r, int dpi);

// The control a mouse event at a client pixel lands on: the site box while shown, then the
// labels in stacking order (CloseApp, Label2, tstrikes, off, Label1). Nothing elsewhere.
std::optional<ControlId> controlAt(int x, int y, int dpi, bool siteBoxShown);

}  // namespace stormtally
