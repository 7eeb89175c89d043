// Great-circle geometry on the sphere the service counts on.
#pragma once

#include <cmath>

namespace strikecount {

// Radius of the sphere every distance is measured on, in statute miles.
constexpr double kEarthRadiusMiles = 3958.8;
constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;

// A flash "exactly on the radius" must count although rounding in the trigonometry moves it by
// ~1e-12 miles either way. Positions carry no information at this scale (a GLM pixel is ~5 mi).
constexpr double kEdgeToleranceMiles = 1e-9;

struct UnitVector {
  double x = 0, y = 0, z = 0;
};

inline UnitVector ToUnitVector(double lat_deg, double lon_deg) {
  const double lat = lat_deg * kDegToRad, lon = lon_deg * kDegToRad;
  const double c = std::cos(lat);
  return {c * std::cos(lon), c * std::sin(lon), std::sin(lat)};
}

// Squared straight-line distance between two unit vectors. Unlike a dot product this keeps full
// relative precision for short distances, so it can decide "inside the radius" exactly.
inline double ChordSquared(const UnitVector& a, const UnitVector& b) {
  const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
  return dx * dx + dy * dy + dz * dz;
}

// The squared chord that belongs to a great-circle distance in miles.
inline double ChordSquaredForMiles(double miles) {
  const double s = 2.0 * std::sin(miles / (2.0 * kEarthRadiusMiles));
  return s * s;
}

// Great-circle distance in miles (haversine), the reference formula.
inline double GreatCircleMiles(double lat1, double lon1, double lat2, double lon2) {
  const double p1 = lat1 * kDegToRad, p2 = lat2 * kDegToRad;
  const double dp = p2 - p1, dl = (lon2 - lon1) * kDegToRad;
  const double h = std::sin(dp / 2) * std::sin(dp / 2) +
                   std::cos(p1) * std::cos(p2) * std::sin(dl / 2) * std::sin(dl / 2);
  return 2.0 * kEarthRadiusMiles * std::asin(std::sqrt(std::fmin(1.0, h)));
}

// The initial great-circle bearing from the first point towards the second, in degrees
// clockwise from north, 0 <= bearing < 360.
inline double InitialBearingDegrees(double lat1, double lon1, double lat2, double lon2) {
  const double p1 = lat1 * kDegToRad, p2 = lat2 * kDegToRad, dl = (lon2 - lon1) * kDegToRad;
  const double b =
      std::atan2(std::sin(dl) * std::cos(p2),
                 std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(dl));
  const double deg = b / kDegToRad;
  return deg < 0 ? deg + 360.0 : deg;
}

// Whether a flash at `flash` lies within `miles` of `center` under the service's counting rule.
inline bool WithinMiles(const UnitVector& center, const UnitVector& flash, double miles) {
  return ChordSquared(center, flash) <= ChordSquaredForMiles(miles + kEdgeToleranceMiles);
}

}  // namespace strikecount
