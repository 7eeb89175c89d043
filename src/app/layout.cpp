#include "app/layout.h"

#include <cstdint>
#include <stdexcept>

namespace stormtally {

TwipsRect twipsRect(ControlId id) {
  switch (id) {
    case ControlId::USR_DISTANCE:
      return {1800, 2040, 615, 285};
    case ControlId::USR:
      return {120, 2520, 2055, 255};
    case ControlId::USR_LON:
      return {960, 2040, 855, 285};
    case ControlId::USR_LAT:
      return {120, 2040, 855, 285};
    case ControlId::ID_DISTANCE:
      return {1800, 1560, 615, 375};
    case ControlId::switch_:
      return {1440, 2880, 735, 495};
    case ControlId::process:
      return {120, 5400, 495, 375};
    case ControlId::ID_LON:
      return {960, 1560, 855, 375};
    case ControlId::ID_LAT:
      return {120, 1560, 855, 375};
    case ControlId::Nexrad_Site:
      return {1750, 585, 735, 435};
    case ControlId::Command1:
      return {120, 2880, 1335, 495};
    case ControlId::focus:
      return {0, 6960, 615, 495};
    case ControlId::CloseApp:
      return {2280, 120, 135, 135};
    case ControlId::Label2:
      return {2280, 120, 15, 255};
    case ControlId::tstrikes:
      return {600, 480, 1335, 495};
    case ControlId::Shape1:
      return kShape1Twips;
    case ControlId::off:
      return {1560, 600, 615, 375};
    case ControlId::Label1:
      return {240, 120, 2055, 495};
    case ControlId::Timer1:
    case ControlId::Timer2:
    case ControlId::Timer3:
    case ControlId::update:
      break;
  }
  throw std::invalid_argument("a timer has no place");
}

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

PixelRect pixelRect(ControlId id, int dpi) {
  return pixelRect(twipsRect(id), dpi);
}

std::optional<ControlId> controlAt(int x, int y, int dpi, bool siteBoxShown) {
  if (siteBoxShown && pixelRect(ControlId::Nexrad_Site, dpi).contains(x, y)) {
    return ControlId::Nexrad_Site;
  }
  for (ControlId label : {ControlId::CloseApp, ControlId::Label2, ControlId::tstrikes,
                          ControlId::off, ControlId::Label1}) {
    if (pixelRect(label, dpi).contains(x, y)) return label;
  }
  return std::nullopt;
}

}  // namespace stormtally
