// The flashes the service holds, indexed for counting by circle and time window.
//
// The globe is cut into cells of a fixed size in latitude and longitude. Each cell keeps its
// flashes sorted by time, as unit vectors. A count visits only the cells that the circle can
// reach: a cell whose four corners lie inside the circle is counted whole (two binary searches
// on time), a cell on the edge is checked flash by flash. Rows are allocated on first use, so a
// quiet hemisphere costs nothing.
//
// Thread-safe: counts share the index, inserts and evictions take it exclusively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "geo.h"
#include "rw_lock.h"
#include "time_util.h"

namespace strikecount {

struct Flash {
  TimeMs time = 0;  // first event of the flash
  double lat = 0;   // degrees north
  double lon = 0;   // degrees east, -180..180
};

class FlashIndex {
 public:
  explicit FlashIndex(double cell_degrees = 0.25);
  ~FlashIndex();
  FlashIndex(const FlashIndex&) = delete;
  FlashIndex& operator=(const FlashIndex&) = delete;

  // Flashes must have finite lat in [-90, 90] and lon in [-180, 180].
  void Insert(const std::vector<Flash>& flashes);

  // Drops every flash with time < cutoff; returns how many.
  std::size_t EvictBefore(TimeMs cutoff);

  // Drops the oldest flashes (whole seconds at a time) until at most `keep` remain.
  std::size_t EvictOldestBeyond(std::size_t keep);

  // Flashes with from <= time <= to within `miles` (great circle) of (lat, lon).
  std::uint64_t Count(double lat, double lon, double miles, TimeMs from, TimeMs to) const;

  std::size_t size() const;
  std::optional<TimeMs> OldestTime() const;

 private:
  struct Point {
    TimeMs time;
    double x, y, z;
  };
  using Cell = std::vector<Point>;
  struct Row {
    std::vector<Cell> cells;
  };

  std::size_t EvictBeforeLocked(TimeMs cutoff);
  std::uint64_t CountCell(const Cell& cell, bool whole, const UnitVector& center, double chord2,
                          TimeMs from, TimeMs to) const;

  const double cell_deg_;
  const int rows_, cols_;
  std::vector<double> lat_sin_, lat_cos_;  // per row edge, rows_ + 1 entries
  std::vector<double> lon_sin_, lon_cos_;  // per column edge, cols_ + 1 entries

  mutable RwLock lock_;
  std::vector<std::unique_ptr<Row>> grid_;
  std::vector<std::uint32_t> occupied_;         // cells that may hold flashes (row * cols + col)
  std::map<TimeMs, std::uint32_t> per_second_;  // flashes held per whole second
  std::size_t size_ = 0;
};

}  // namespace strikecount
