#include "flash_index.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <shared_mutex>

namespace strikecount {
namespace {

TimeMs SecondOf(TimeMs t) {
  return t >= 0 ? t / 1000 : (t - 999) / 1000;
}

int Wrap(long long col, int cols) {
  long long m = col % cols;
  return static_cast<int>(m < 0 ? m + cols : m);
}

}  // namespace

FlashIndex::FlashIndex(double cell_degrees)
    : cell_deg_(cell_degrees),
      rows_(static_cast<int>(std::lround(180.0 / cell_degrees))),
      cols_(static_cast<int>(std::lround(360.0 / cell_degrees))),
      grid_(static_cast<size_t>(rows_)) {
  for (int r = 0; r <= rows_; ++r) {
    const double lat = (-90.0 + r * cell_deg_) * kDegToRad;
    lat_sin_.push_back(std::sin(lat));
    lat_cos_.push_back(std::cos(lat));
  }
  for (int c = 0; c <= cols_; ++c) {
    const double lon = (-180.0 + c * cell_deg_) * kDegToRad;
    lon_sin_.push_back(std::sin(lon));
    lon_cos_.push_back(std::cos(lon));
  }
}

FlashIndex::~FlashIndex() = default;

void FlashIndex::Insert(const std::vector<Flash>& flashes) {
  std::unique_lock<RwLock> guard(lock_);
  for (const Flash& f : flashes) {
    const int r =
        std::clamp(static_cast<int>(std::floor((f.lat + 90.0) / cell_deg_)), 0, rows_ - 1);
    const int c = Wrap(static_cast<long long>(std::floor((f.lon + 180.0) / cell_deg_)), cols_);
    auto& row = grid_[static_cast<size_t>(r)];
    if (!row) {
      row = std::make_unique<Row>();
      row->cells.resize(static_cast<size_t>(cols_));
    }
    Cell& cell = row->cells[static_cast<size_t>(c)];
    if (cell.empty()) occupied_.push_back(static_cast<std::uint32_t>(r * cols_ + c));
    const UnitVector v = ToUnitVector(f.lat, f.lon);
    const Point p{f.time, v.x, v.y, v.z};
    if (cell.empty() || cell.back().time <= f.time) {
      cell.push_back(p);
    } else {
      auto at = std::upper_bound(cell.begin(), cell.end(), f.time,
                                 [](TimeMs t, const Point& q) { return t < q.time; });
      cell.insert(at, p);
    }
    ++per_second_[SecondOf(f.time)];
    ++size_;
  }
}

std::size_t FlashIndex::EvictBefore(TimeMs cutoff) {
  std::unique_lock<RwLock> guard(lock_);
  return EvictBeforeLocked(cutoff);
}

std::size_t FlashIndex::EvictBeforeLocked(TimeMs cutoff) {
  if (per_second_.empty() || per_second_.begin()->first * 1000 >= cutoff) return 0;
  std::size_t dropped = 0;
  size_t keep = 0;
  for (size_t i = 0; i < occupied_.size(); ++i) {
    const std::uint32_t id = occupied_[i];
    Cell& cell = grid_[id / static_cast<std::uint32_t>(cols_)]
                     ->cells[id % static_cast<std::uint32_t>(cols_)];
    auto end = std::lower_bound(cell.begin(), cell.end(), cutoff,
                                [](const Point& q, TimeMs t) { return q.time < t; });
    for (auto it = cell.begin(); it != end; ++it) {
      auto bucket = per_second_.find(SecondOf(it->time));
      if (--bucket->second == 0) per_second_.erase(bucket);
    }
    const auto n = static_cast<std::size_t>(end - cell.begin());
    if (n > 0) {
      cell.erase(cell.begin(), end);
      dropped += n;
      if (cell.capacity() > 64 && cell.size() < cell.capacity() / 4) cell.shrink_to_fit();
    }
    if (!cell.empty()) occupied_[keep++] = id;
  }
  occupied_.resize(keep);
  size_ -= dropped;
  return dropped;
}

std::size_t FlashIndex::EvictOldestBeyond(std::size_t keep) {
  std::unique_lock<RwLock> guard(lock_);
  if (size_ <= keep) return 0;
  std::size_t remaining = size_;
  TimeMs cutoff = 0;
  for (const auto& [second, n] : per_second_) {
    remaining -= n;
    cutoff = (second + 1) * 1000;
    if (remaining <= keep) break;
  }
  return EvictBeforeLocked(cutoff);
}

std::size_t FlashIndex::size() const {
  std::shared_lock<RwLock> guard(lock_);
  return size_;
}

std::optional<TimeMs> FlashIndex::OldestTime() const {
  std::shared_lock<RwLock> guard(lock_);
  if (per_second_.empty()) return std::nullopt;
  TimeMs oldest = (per_second_.begin()->first + 1) * 1000;
  for (std::uint32_t id : occupied_) {
    const Cell& cell = grid_[id / static_cast<std::uint32_t>(cols_)]
                           ->cells[id % static_cast<std::uint32_t>(cols_)];
    if (!cell.empty()) oldest = std::min(oldest, cell.front().time);
  }
  return oldest;
}

std::uint64_t FlashIndex::CountCell(const Cell& cell, bool whole, const UnitVector& center,
                                    double chord2, TimeMs from, TimeMs to) const {
  auto begin = cell.begin(), end = cell.end();
  if (begin->time < from) {
    begin = std::lower_bound(begin, end, from, [](const Point& q, TimeMs t) { return q.time < t; });
  }
  if (cell.back().time > to) {
    end = std::upper_bound(begin, end, to, [](TimeMs t, const Point& q) { return t < q.time; });
  }
  if (whole) return static_cast<std::uint64_t>(end - begin);
  std::uint64_t n = 0;
  for (auto it = begin; it != end; ++it) {
    const double dx = it->x - center.x, dy = it->y - center.y, dz = it->z - center.z;
    n += (dx * dx + dy * dy + dz * dz <= chord2);
  }
  return n;
}

std::uint64_t FlashIndex::Count(double lat, double lon, double miles, TimeMs from,
                                TimeMs to) const {
  if (from > to || !(miles > 0)) return 0;
  const double theta = miles / kEarthRadiusMiles;  // angular radius, radians
  const double theta_deg = theta / kDegToRad;
  const UnitVector center = ToUnitVector(lat, lon);
  const double chord2 = ChordSquaredForMiles(miles + kEdgeToleranceMiles);
  const double whole2 = ChordSquaredForMiles(miles);

  const double lat_lo = lat - theta_deg, lat_hi = lat + theta_deg;
  const int r_lo =
      std::clamp(static_cast<int>(std::floor((lat_lo + 90.0) / cell_deg_)), 0, rows_ - 1);
  const int r_hi =
      std::clamp(static_cast<int>(std::floor((lat_hi + 90.0) / cell_deg_)), 0, rows_ - 1);

  const double phi0 = lat * kDegToRad;
  const double sin0 = std::sin(phi0), cos0 = std::cos(phi0), cos_theta = std::cos(theta);
  // Latitude at which the circle reaches farthest east and west (when it holds no pole).
  const bool has_widest = std::fabs(sin0) < cos_theta;
  const double widest_deg = has_widest ? std::asin(sin0 / cos_theta) / kDegToRad : 0.0;

  // Half-width in longitude (radians) of the circle along the parallel `phi_deg`; < 0 means the
  // whole parallel lies inside.
  auto half_width = [&](double phi_deg) {
    const double cos_phi = std::cos(phi_deg * kDegToRad);
    if (cos0 < 1e-12 || cos_phi < 1e-12) return -1.0;
    const double k = (cos_theta - sin0 * std::sin(phi_deg * kDegToRad)) / (cos0 * cos_phi);
    if (k <= -1.0) return -1.0;
    if (k >= 1.0) return 0.0;
    return std::acos(k);
  };

  std::shared_lock<RwLock> guard(lock_);
  std::uint64_t total = 0;
  for (int r = r_lo; r <= r_hi; ++r) {
    const Row* row = grid_[static_cast<size_t>(r)].get();
    if (!row) continue;
    const double band_lo = std::max(-90.0 + r * cell_deg_, lat_lo);
    const double band_hi = std::min(-90.0 + (r + 1) * cell_deg_, lat_hi);
    const double w_lo = half_width(band_lo), w_hi = half_width(band_hi);
    double width = (w_lo < 0 || w_hi < 0) ? -1.0 : std::max(w_lo, w_hi);
    if (width >= 0 && has_widest && widest_deg > band_lo && widest_deg < band_hi) {
      const double w = half_width(widest_deg);
      width = w < 0 ? -1 : std::max(width, w);
    }
    long long c_lo = 0, c_hi = cols_ - 1;
    bool near_antipode = true;
    if (width >= 0) {
      const double width_deg = width / kDegToRad + 1e-7;
      if (width_deg + cell_deg_ < 180.0) {
        near_antipode = false;
        c_lo = static_cast<long long>(std::floor((lon - width_deg + 180.0) / cell_deg_));
        c_hi = static_cast<long long>(std::floor((lon + width_deg + 180.0) / cell_deg_));
        if (c_hi - c_lo + 1 >= cols_) c_lo = 0, c_hi = cols_ - 1;
      }
    }
    for (long long cc = c_lo; cc <= c_hi; ++cc) {
      const int c = Wrap(cc, cols_);
      const Cell& cell = row->cells[static_cast<size_t>(c)];
      if (cell.empty()) continue;
      bool whole = true;
      for (int dr = 0; dr < 2 && whole; ++dr) {
        for (int dc = 0; dc < 2 && whole; ++dc) {
          const double lc = lat_cos_[static_cast<size_t>(r + dr)];
          const UnitVector corner{lc * lon_cos_[static_cast<size_t>(c + dc)],
                                  lc * lon_sin_[static_cast<size_t>(c + dc)],
                                  lat_sin_[static_cast<size_t>(r + dr)]};
          whole = ChordSquared(center, corner) <= whole2;
        }
      }
      if (whole && near_antipode) {
        // Along a parallel the farthest point from the centre is at a corner unless the cell
        // spans the meridian opposite the centre; such a cell is checked flash by flash.
        const double west = std::remainder(-180.0 + c * cell_deg_ - lon, 360.0);
        if (west > 180.0 - cell_deg_ - 1e-9 || west < -180.0 + 1e-9) whole = false;
      }
      total += CountCell(cell, whole, center, chord2, from, to);
    }
  }
  return total;
}

}  // namespace strikecount
