#include "core/layout.h"

#include <cstdint>

namespace stormtally {

int twipsToPixels(int twips, int dpi) {
  const std::int64_t scaled = static_cast<std::int64_t>(twips) * dpi;
  const std::int64_t half = kTwipsPerInch / 2;
  return static_cast<int>(scaled >= 0 ? (scaled + half) / kTwipsPerInch
                                      : -((-scaled + half) / kTwipsPerInch));
}

PixelRect pixelRect(const TwipsRect& r, int dpi) {
  return {twipsToPixels(r.left, dpi), twipsToPixels(r.top, dpi),
          twipsToPixels(r.left + r.width, dpi), twipsToPixels(r.top + r.height, dpi)};
}

std::optional<ControlId> controlAt(const Controls& controls, int x, int y, int dpi) {
  for (const ControlSpec& row : kControlTable) {
    const bool target =
        row.kind == ControlKind::Label || (row.kind == ControlKind::TextBox && row.ownWindow &&
                                           static_cast<const TextBox&>(controls[row.id]).visible());
    if (target && pixelRect(row.rect, dpi).contains(x, y)) return row.id;
  }
  return std::nullopt;
}

}  // namespace stormtally
