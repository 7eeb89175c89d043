#include "flash_index.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>

namespace strikecount {
namespace {

TimeMs SecondOf(TimeMs t) {
  return t >= 0 ? t / 1000 : (t - 999) / 1000;
}

// A cell's capacity for at least n flashes: whole blocks for the count's vector loop.
std::uint32_t Rounded(std::uint32_t n) {
  return std::max<std::uint32_t>(8, (n + 7) / 8 * 8);
}

double Dot(const UnitVector& a, const UnitVector& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}

int Wrap(long long col, int cols) {
  if (col >= 0 && col < cols) return static_cast<int>(col);  // most runs; spares a division
  long long m = col % cols;
  return static_cast<int>(m < 0 ? m + cols : m);
}

// Half-widths in longitude (radians) of a circle along a parallel; kAll when the whole parallel
// lies inside, kNone when none of it does.
constexpr double kAll = 2 * kPi, kNone = -1.0;

// The circle has its centre at latitude sine `sin0`, cosine `cos0` and the angular radius whose
// cosine is `cos_theta`; the parallel has latitude sine `sin_phi`, cosine `cos_phi`.
double HalfWidth(double sin0, double cos0, double cos_theta, double sin_phi, double cos_phi) {
  if (cos0 < 1e-12 || cos_phi < 1e-12) {
    // The centre or the parallel is a pole: the parallel lies inside or outside as a whole.
    return sin0 * sin_phi + cos0 * cos_phi >= cos_theta ? kAll : kNone;
  }
  const double k = (cos_theta - sin0 * sin_phi) / (cos0 * cos_phi);
  if (k <= -1.0) return kAll;
  if (k > 1.0) return kNone;
  return std::acos(k);
}

// The squared chord to a flash with the offsets (a, b), seen through a cell's frame (base, east,
// north, tangent).
[[gnu::always_inline]] inline float FrameChord2(const CellFrame& f, float a, float b) {
  return f.base + f.east * a + f.north * b + f.tangent * (a * a + b * b);
}

// How many of the n flashes with the offsets (east[i], north[i]) lie within the circle for sure
// (squared chord at most `sure`, returned) and how many may (at most `maybe`, in `near`). With
// kBlocks, n is a whole number of blocks of 8 (a padded cell) and the loop needs no remainder.
template <bool kBlocks>
[[gnu::always_inline]] inline std::uint32_t CountNearIn(const std::int16_t* east,
                                                        const std::int16_t* north, std::size_t n,
                                                        const CellFrame& frame, float sure,
                                                        float maybe, std::uint32_t& near) {
  if (kBlocks && n % 8 != 0) __builtin_unreachable();
  std::uint32_t inside = 0, maybe_inside = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const float d2 = FrameChord2(frame, east[i], north[i]);
    inside += d2 <= sure;
    maybe_inside += d2 <= maybe;
  }
  near = maybe_inside;
  return inside;
}

// Both compiled for vector instructions (AVX2 where the processor has it).
__attribute__((target_clones("avx2", "default"))) std::uint32_t CountNear(
    const std::int16_t* east, const std::int16_t* north, std::size_t n, const CellFrame& frame,
    float sure, float maybe, std::uint32_t& near) {
  return CountNearIn<false>(east, north, n, frame, sure, maybe, near);
}

__attribute__((target_clones("avx2", "default"))) std::uint32_t CountNearBlocks(
    const std::int16_t* east, const std::int16_t* north, std::size_t blocks, const CellFrame& frame,
    float sure, float maybe, std::uint32_t& near) {
  return CountNearIn<true>(east, north, 8 * blocks, frame, sure, maybe, near);
}

// Marks the n flashes whose squared chord lies above `sure` and at most `maybe`.
__attribute__((target_clones("avx2", "default"))) void MarkBetween(
    const std::int16_t* east, const std::int16_t* north, std::size_t n, const CellFrame& frame,
    float sure, float maybe, std::uint8_t* marks) {
  for (std::size_t i = 0; i < n; ++i) {
    const float d2 = FrameChord2(frame, east[i], north[i]);
    marks[i] = (d2 > sure) & (d2 <= maybe);
  }
}

}  // namespace

struct FlashIndex::Circle {
  Circle(const FlashIndex& index, double lat, double lon, double miles, TimeMs from_time,
         TimeMs to_time)
      : center(ToUnitVector(lat, lon)),
        chord2(ChordSquaredForMiles(miles + kEdgeToleranceMiles)),
        from(from_time),
        to(to_time) {
    // A flash of a cell with the centre C, and E and N the unit vectors east and north there, is
    // w C + a E + b N with w = sqrt(1 - s), s = a^2 + b^2; from the circle's centre P its squared
    // chord is exactly |P - C|^2 + 2 (P.C) (1 - w) - 2 (a P.E + b P.N). The frame takes
    // 2 (1 - w) as s, which is off by at most s^2, and the offsets as kept, each off by at most
    // q; P.E and P.N are together at most |P - C|. Cells whose centre lies farther than `reach`
    // hold no flash within the circle and are passed over, so |P - C| is at most `reach` in the
    // bound; single precision adds its rounding of terms whose sum is at most `terms`, and the
    // double precision check its own, far below 1e-14. A single precision squared chord outside
    // [chord2 - bound, chord2 + bound] thus decides as a double precision one.
    const double limit = index.offset_limit_, s_max = 2 * limit * limit;
    const double reach = std::sqrt(chord2) + std::sqrt(s_max + s_max * s_max) + 1e-7;
    farthest = reach < 2 ? reach * reach : std::numeric_limits<double>::infinity();
    const double apart = std::min(reach, 2.0), q = index.unit_ / 2 + 1e-15;
    const double terms = apart * apart + 2 * std::sqrt(2.0) * apart * limit + s_max;
    bound = 2 * std::sqrt(2.0) * q * apart + 2 * q * (2 * limit + q) + s_max * s_max +
            10 * 0x1p-24 * terms + 1e-14;
    sure = chord2 > 2 * bound ? std::nextafter(static_cast<float>(chord2 - bound), 0.0f) : -1.0f;
    maybe = std::nextafter(static_cast<float>(chord2 + bound), 8.0f);
  }
  // Whether flash i of `cell`, whose single precision squared chord from the centre is `near2`,
  // lies within the circle by the count's rule: sure or not in single precision, else decided
  // in double precision from its position.
  bool Holds(const Cell& cell, std::uint32_t i, float near2) const {
    return near2 <= sure || (near2 <= maybe && Within(cell, i));
  }
  // Whether flash i of `cell` lies within the circle, in double precision.
  bool Within(const Cell& cell, std::uint32_t i) const {
    return ChordSquared(center, ToUnitVector(cell.lat()[i], cell.lon()[i])) <= chord2;
  }

  UnitVector center;
  double chord2;  // squared chord of the radius and the edge tolerance
  TimeMs from, to;
  double farthest;    // squared chord to the centre of a cell beyond which none is looked at
  float sure, maybe;  // single precision squared chords: surely inside, perhaps inside
  double bound;       // how far a single precision squared chord may be off
};

inline FlashIndex::Axes FlashIndex::AxesOf(int row, int col) const {
  const double sp = mid_sin_[static_cast<std::size_t>(row)],
               cp = mid_cos_[static_cast<std::size_t>(row)];
  const double sl = col_sin_[static_cast<std::size_t>(col)],
               cl = col_cos_[static_cast<std::size_t>(col)];
  return {{cp * cl, cp * sl, sp}, {-sl, cl, 0}, {-sp * cl, -sp * sl, cp}};
}

inline bool FlashIndex::Sees(const Circle& c, int row, int col, CellFrame& f) const {
  const Axes axes = AxesOf(row, col);
  const double base = ChordSquared(c.center, axes.centre);
  if (base > c.farthest) return false;
  f = {static_cast<float>(base), static_cast<float>(-2 * Dot(c.center, axes.east) * unit_),
       static_cast<float>(-2 * Dot(c.center, axes.north) * unit_),
       static_cast<float>((1 - base / 2) * unit_ * unit_)};
  return true;
}

float FlashIndex::Cell::Near2(std::uint32_t i, const CellFrame& f) const {
  return FrameChord2(f, east()[i], north()[i]);
}

void FlashIndex::Cell::Free::operator()(unsigned char* p) const {
  std::free(p);
}

namespace {
// The fields of a cell: bytes per flash into the block where each starts, and their size.
constexpr std::pair<std::size_t, std::size_t> kFields[] = {
    {0, 8}, {8, 8}, {16, 8}, {24, 2}, {26, 2}};
}  // namespace

void FlashIndex::Cell::Resize(std::uint32_t n, std::uint32_t capacity) {
  std::unique_ptr<unsigned char, Free> block(
      static_cast<unsigned char*>(std::malloc(kBytesPerFlash * capacity)));
  if (!block) throw std::bad_alloc();
  for (const auto& [offset, size] : kFields) {
    if (n > 0)
      std::memcpy(block.get() + offset * capacity, block_.get() + offset * capacity_, n * size);
  }
  block_ = std::move(block);
  capacity_ = capacity;
  Pad(n);
}

void FlashIndex::Cell::OpenGap(std::uint32_t pos, std::uint32_t n) {
  for (const auto& [offset, size] : kFields) {
    unsigned char* field = block_.get() + offset * capacity_;
    std::memmove(field + (pos + 1) * size, field + pos * size, (n - pos) * size);
  }
}

void FlashIndex::Cell::DropFront(std::uint32_t m, std::uint32_t n) {
  for (const auto& [offset, size] : kFields) {
    unsigned char* field = block_.get() + offset * capacity_;
    std::memmove(field, field + m * size, (n - m) * size);
  }
  Pad(n - m);
}

void FlashIndex::Cell::Pad(std::uint32_t n) {
  const std::uint32_t end = std::min(capacity_, (n + kLanes - 1) / kLanes * kLanes);
  for (std::int16_t* v : {east(), north()}) std::fill(v + n, v + end, std::int16_t{0});
}

FlashIndex::FlashIndex(double cell_degrees)
    : cell_deg_(cell_degrees),
      rows_(static_cast<int>(std::lround(180.0 / cell_degrees))),
      cols_(static_cast<int>(std::lround(360.0 / cell_degrees))),
      // A flash lies at most half a cell from its centre in latitude and longitude: east, the
      // sine of that; north, the sine and the most a parallel bends away from the centre's.
      offset_limit_(1.01 * (std::sin(cell_degrees / 2 * kDegToRad) + 1 -
                            std::cos(cell_degrees / 2 * kDegToRad))),
      unit_(offset_limit_ / 32767),
      grid_(static_cast<size_t>(rows_)) {
  if (cols_ < 4 || cols_ > 65535 || std::fabs(rows_ * cell_deg_ - 180.0) > 1e-9)
    throw std::invalid_argument("cell size out of range");
  for (int r = 0; r <= rows_; ++r) {
    const double lat = (-90.0 + r * cell_deg_) * kDegToRad;
    lat_sin_.push_back(std::sin(lat));
    lat_cos_.push_back(std::cos(lat));
    if (r == rows_) break;
    mid_sin_.push_back(std::sin(lat + cell_deg_ / 2 * kDegToRad));
    mid_cos_.push_back(std::cos(lat + cell_deg_ / 2 * kDegToRad));
  }
  for (int c = 0; c < cols_; ++c) {
    const double lon = (-180.0 + (c + 0.5) * cell_deg_) * kDegToRad;
    col_sin_.push_back(std::sin(lon));
    col_cos_.push_back(std::cos(lon));
  }
}

FlashIndex::~FlashIndex() = default;

void FlashIndex::Insert(const std::vector<Flash>& flashes) {
  std::unique_lock<RwLock> guard(lock_);
  for (const Flash& f : flashes) {
    const int r =
        std::clamp(static_cast<int>(std::floor((f.lat + 90.0) / cell_deg_)), 0, rows_ - 1);
    const auto c = static_cast<std::uint16_t>(
        Wrap(static_cast<long long>(std::floor((f.lon + 180.0) / cell_deg_)), cols_));
    Row& row = grid_[static_cast<size_t>(r)];
    auto at = std::lower_bound(row.slots.begin(), row.slots.end(), c,
                               [](const Slot& slot, std::uint16_t col) { return slot.col < col; });
    if (at == row.slots.end() || at->col != c)
      at = row.slots.insert(at, {f.time, f.time, {}, 0, c});
    Slot& slot = *at;
    Cell& cell = slot.cell;
    const std::uint32_t n = slot.size;
    if (n == cell.capacity()) cell.Resize(n, Rounded(n + n / 4 + 1));  // little to spare
    const TimeMs* t = cell.time();
    std::uint32_t pos = n;
    if (n > 0 && t[n - 1] > f.time) {  // arrivals are mostly in time order
      pos = static_cast<std::uint32_t>(std::upper_bound(t, t + n, f.time) - t);
      cell.OpenGap(pos, n);
    }
    const UnitVector v = ToUnitVector(f.lat, f.lon);
    const Axes axes = AxesOf(r, c);
    auto units = [&](double offset) {  // never beyond the limit; clamped all the same
      return static_cast<std::int16_t>(std::lround(std::clamp(offset / unit_, -32767.0, 32767.0)));
    };
    cell.time()[pos] = f.time;
    cell.lat()[pos] = f.lat;
    cell.lon()[pos] = f.lon;
    cell.east()[pos] = units(Dot(v, axes.east));
    cell.north()[pos] = units(Dot(v, axes.north));
    cell.Pad(n + 1);
    slot.size = n + 1;
    slot.oldest = cell.time()[0];
    slot.newest = cell.time()[n];
    row.changed = true;
    ++per_second_[SecondOf(f.time)];
    ++size_;
  }
  for (Row& row : grid_) {
    if (row.changed) Summarize(row);
  }
}

void FlashIndex::Summarize(Row& row) const {
  row.changed = false;
  row.first.resize(static_cast<std::size_t>(cols_) + 1);
  std::size_t k = 0;
  for (std::size_t c = 0; c <= static_cast<std::size_t>(cols_); ++c) {
    while (k < row.slots.size() && row.slots[k].col < c) ++k;
    row.first[c] = static_cast<std::uint16_t>(k);
  }
  row.before.resize(row.slots.size() + 1);
  std::uint32_t sum = 0;
  row.row_oldest = row.slots.empty() ? 0 : row.slots[0].oldest;
  row.row_newest = row.slots.empty() ? 0 : row.slots[0].newest;
  for (std::size_t k = 0; k < row.slots.size(); ++k) {
    const Slot& slot = row.slots[k];
    row.before[k] = sum;
    sum += slot.size;
    row.row_oldest = std::min(row.row_oldest, slot.oldest);
    row.row_newest = std::max(row.row_newest, slot.newest);
  }
  row.before[row.slots.size()] = sum;
}

std::size_t FlashIndex::EvictBefore(TimeMs cutoff, std::vector<Flash>* evicted) {
  std::unique_lock<RwLock> guard(lock_);
  return EvictBeforeLocked(cutoff, evicted);
}

std::size_t FlashIndex::EvictBeforeLocked(TimeMs cutoff, std::vector<Flash>* evicted) {
  if (per_second_.empty() || per_second_.begin()->first * 1000 >= cutoff) return 0;
  std::size_t dropped = 0;
  for (Row& row : grid_) {
    std::size_t keep = 0;
    for (std::size_t k = 0; k < row.slots.size(); ++k) {
      Slot& slot = row.slots[k];
      std::uint32_t n = slot.size;
      Cell& cell = slot.cell;
      if (slot.oldest < cutoff) {
        const TimeMs* t = cell.time();
        const auto m = static_cast<std::uint32_t>(std::lower_bound(t, t + n, cutoff) - t);
        for (std::uint32_t i = 0; i < m; ++i) {
          auto bucket = per_second_.find(SecondOf(t[i]));
          if (--bucket->second == 0) per_second_.erase(bucket);
          if (evicted) evicted->push_back({t[i], cell.lat()[i], cell.lon()[i]});
        }
        cell.DropFront(m, n);
        n -= m;
        dropped += m;
        if (n > 0 && cell.capacity() > 64 && n < cell.capacity() / 4)
          cell.Resize(n, Rounded(n + n / 2));
        slot.size = n;
        if (n > 0) slot.oldest = cell.time()[0];
        row.changed = true;
      }
      if (n == 0) continue;
      if (keep != k) row.slots[keep] = std::move(slot);
      ++keep;
    }
    row.slots.resize(keep);
    if (row.changed) Summarize(row);
  }
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
  return EvictBeforeLocked(cutoff, nullptr);
}

std::size_t FlashIndex::size() const {
  std::shared_lock<RwLock> guard(lock_);
  return size_;
}

std::optional<TimeMs> FlashIndex::OldestTime() const {
  std::shared_lock<RwLock> guard(lock_);
  if (per_second_.empty()) return std::nullopt;
  TimeMs oldest = (per_second_.begin()->first + 1) * 1000;
  for (const Row& row : grid_) {
    for (const Slot& slot : row.slots) oldest = std::min(oldest, slot.oldest);
  }
  return oldest;
}

bool FlashIndex::InWindow(const Row& row, std::size_t k, const Circle& c, std::uint32_t& b,
                          std::uint32_t& e) {
  const Slot& slot = row.slots[k];
  if (slot.newest < c.from || slot.oldest > c.to) return false;
  const TimeMs* t = slot.cell.time();
  b = 0, e = slot.size;
  if (slot.oldest < c.from) b = static_cast<std::uint32_t>(std::lower_bound(t, t + e, c.from) - t);
  if (slot.newest > c.to) e = static_cast<std::uint32_t>(std::upper_bound(t + b, t + e, c.to) - t);
  return true;
}

std::pair<int, int> FlashIndex::RowsReached(double lat, double theta_deg) const {
  auto row_of = [&](double at) {
    return std::clamp(static_cast<int>(std::floor((at + 90.0) / cell_deg_)), 0, rows_ - 1);
  };
  return {row_of(lat - theta_deg), row_of(lat + theta_deg)};
}

std::uint64_t FlashIndex::CountRuns(Runs& runs, const Circle& c, Edges& edges) const {
  for (std::size_t i = 0; i < runs.size; ++i) {
    Runs::Item& run = runs.items[i];
    const Row& row = *run.row;
    run.k = row.first[static_cast<std::size_t>(run.first)];
    run.end = row.first[static_cast<std::size_t>(run.last) + 1];
    if (run.k == run.end) continue;
    if (run.whole) {
      __builtin_prefetch(&row.before[run.k]);
      __builtin_prefetch(&row.before[run.end]);
    } else {  // an edge run holds a cell or two
      __builtin_prefetch(&row.slots[run.k]);
      __builtin_prefetch(&row.slots[run.end - 1]);
    }
  }
  std::uint64_t n = 0;
  for (std::size_t i = 0; i < runs.size; ++i) {
    if (runs.items[i].k != runs.items[i].end) n += CountRun(runs.items[i], c, edges);
  }
  runs.size = 0;
  return n;
}

std::uint64_t FlashIndex::CountRun(const Runs::Item& run, const Circle& c, Edges& edges) const {
  const Row& row = *run.row;
  const int r = run.r;
  const bool whole = run.whole;
  std::size_t k = run.k;
  const std::size_t end = run.end;
  if (whole) {
    // When the window holds every flash of the row, or else of the run: one subtraction.
    TimeMs oldest = row.row_oldest, newest = row.row_newest;
    if (oldest < c.from || newest > c.to) {
      oldest = row.slots[k].oldest, newest = row.slots[k].newest;
      for (std::size_t i = k; i < end; ++i) {
        oldest = std::min(oldest, row.slots[i].oldest);
        newest = std::max(newest, row.slots[i].newest);
      }
    }
    if (oldest >= c.from && newest <= c.to) return row.before[end] - row.before[k];
  }
  std::uint64_t n = 0;
  for (; k < end; ++k) {
    std::uint32_t b, e;
    if (!InWindow(row, k, c, b, e)) continue;
    const Slot& slot = row.slots[k];
    const Cell& cell = slot.cell;
    if (whole) {
      n += e - b;
      continue;
    }
    CellFrame frame;
    if (!Sees(c, r, slot.col, frame)) continue;
    // The offsets to be checked, fetched into the second-level cache while the other cells are
    // looked at: all of them, up to 2,048 flashes (the processor's own fetching takes over for
    // longer runs). With the first-level hint, or with only the first lines asked for, a count
    // with cold caches waited a third longer.
    const std::uint32_t last = std::min(e, b + 2048);
    for (const std::int16_t* v : {cell.east(), cell.north()}) {
      for (std::uint32_t i = b; i < last + 31; i += 32) __builtin_prefetch(v + i, 0, 2);
    }
    edges.items[edges.size++] = {&cell, frame, b, e, b == 0 && e == slot.size};
    if (edges.size == Edges::kCapacity) n += CheckEdges(edges, c);
  }
  return n;
}

std::uint32_t FlashIndex::CheckBetween(const Cell& cell, std::uint32_t b, std::uint32_t e,
                                       const CellFrame& frame, const Circle& c) {
  constexpr std::uint32_t kChunk = 256;
  std::uint8_t marks[kChunk];
  std::uint32_t inside = 0;
  for (std::uint32_t from = b; from < e; from += kChunk) {
    const std::uint32_t n = std::min(kChunk, e - from);
    MarkBetween(cell.east() + from, cell.north() + from, n, frame, c.sure, c.maybe, marks);
    for (std::uint32_t i = 0; i < n; ++i) inside += marks[i] && c.Within(cell, from + i);
  }
  return inside;
}

std::uint64_t FlashIndex::CheckEdges(Edges& edges, const Circle& c) {
  std::uint64_t n = 0;
  for (std::size_t k = 0; k < edges.size; ++k) {
    const auto& [cell, frame, b, e, whole_cell] = edges.items[k];
    std::uint32_t inside, near;
    if (whole_cell) {
      // Padding lanes hold the cell's centre, whose squared chord is the frame's base exactly.
      const std::uint32_t blocks = (e + Cell::kLanes - 1) / Cell::kLanes;
      const std::uint32_t pads = blocks * Cell::kLanes - e;
      inside = CountNearBlocks(cell->east(), cell->north(), blocks, frame, c.sure, c.maybe, near) -
               (frame.base <= c.sure ? pads : 0);
      near -= frame.base <= c.maybe ? pads : 0;
    } else {
      inside = CountNear(cell->east() + b, cell->north() + b, e - b, frame, c.sure, c.maybe, near);
    }
    n += inside;
    if (near != inside) n += CheckBetween(*cell, b, e, frame, c);
  }
  edges.size = 0;
  return n;
}

std::uint64_t FlashIndex::Count(double lat, double lon, double miles, TimeMs from,
                                TimeMs to) const {
  if (from > to || !(miles > 0)) return 0;
  const double theta = miles / kEarthRadiusMiles;  // angular radius, radians
  const double theta_deg = theta / kDegToRad;
  const Circle circle(*this, lat, lon, miles, from, to);

  const double lat_lo = lat - theta_deg, lat_hi = lat + theta_deg;
  const auto [r_lo, r_hi] = RowsReached(lat, theta_deg);

  const double phi0 = lat * kDegToRad;
  const double sin0 = std::sin(phi0), cos0 = std::cos(phi0), cos_theta = std::cos(theta);
  // Widths are taken of a circle a little larger to find the cells the circle may reach, and of
  // one a little smaller to find the cells wholly inside, so that rounding in the trigonometry
  // can only move a cell to the edge, where its flashes are checked one by one.
  const double reach = cos_theta - 1e-11, inside = cos_theta + 1e-11;
  auto width = [&](double cos_radius, double phi_deg) {
    const double phi = phi_deg * kDegToRad;
    return HalfWidth(sin0, cos0, cos_radius, std::sin(phi), std::cos(phi));
  };
  auto edge_width = [&](double cos_radius, int edge) {
    return HalfWidth(sin0, cos0, cos_radius, lat_sin_[static_cast<size_t>(edge)],
                     lat_cos_[static_cast<size_t>(edge)]);
  };
  // Latitude at which the circle reaches farthest east and west (when it holds no pole).
  const bool has_widest = std::fabs(sin0) < cos_theta;
  const double widest_deg = has_widest ? std::asin(sin0 / cos_theta) / kDegToRad : 0.0;

  // Widths along a row's upper edge serve as those along the next row's lower edge.
  struct Edge {
    int edge = -1;
    double reach = 0, inside = 0;
  } below, above;
  auto widths_at = [&](int edge, Edge& out) {
    if (below.edge == edge) return void(out = below);
    const double sin_phi = lat_sin_[static_cast<size_t>(edge)];
    const double cos_phi = lat_cos_[static_cast<size_t>(edge)];
    const double scale = cos0 * cos_phi, k = (cos_theta - sin0 * sin_phi) / scale;
    if (scale > 1e-3 && std::fabs(k) < 0.999) {
      // Away from the poles and from a tangent one arc cosine gives both: its rounding moves
      // the width by less than 1e-11 radians there, and the edge tolerance by less than 6e-9.
      const double w = std::acos(k);
      out = {edge, w + 1e-8, w - 1e-8};
    } else {
      out = {edge, edge_width(reach, edge), edge_width(inside, edge)};
    }
  };

  std::shared_lock<RwLock> guard(lock_);
  std::uint64_t total = 0;
  Edges edges;
  Runs runs;
  for (int r = r_lo; r <= r_hi; ++r) {
    const Row* row = &grid_[static_cast<size_t>(r)];
    if (row->slots.empty()) continue;
    widths_at(r, below);
    widths_at(r + 1, above);
    // The cells the circle may reach: its widest extent within the row's band.
    const double edge_lo = -90.0 + r * cell_deg_, edge_hi = edge_lo + cell_deg_;
    const double band_lo = std::max(edge_lo, lat_lo), band_hi = std::min(edge_hi, lat_hi);
    double reach_w = std::max(band_lo == edge_lo ? below.reach : width(reach, band_lo),
                              band_hi == edge_hi ? above.reach : width(reach, band_hi));
    if (has_widest && widest_deg > band_lo && widest_deg < band_hi)
      reach_w = std::max(reach_w, width(reach, widest_deg));
    // The cells wholly inside: along a parallel the circle's width is narrowest at an edge of
    // the row.
    const double inside_w = std::min(below.inside, above.inside);
    below = above;
    if (reach_w == kNone) continue;

    auto add = [&](int first, int last, bool whole) {
      __builtin_prefetch(&row->first[static_cast<std::size_t>(first)]);
      __builtin_prefetch(&row->first[static_cast<std::size_t>(last) + 1]);
      runs.items[runs.size++] = {row, r, first, last, whole, 0, 0};
      if (runs.size == Runs::kCapacity) total += CountRuns(runs, circle, edges);
    };
    auto run = [&](long long a, long long b, bool whole) {
      if (a > b) return;
      const int wa = Wrap(a, cols_), wb = Wrap(b, cols_);
      if (b - a + 1 >= cols_) {
        add(0, cols_ - 1, whole);
      } else if (wa <= wb) {
        add(wa, wb, whole);
      } else {
        add(wa, cols_ - 1, whole);
        add(0, wb, whole);
      }
    };
    if (inside_w == kAll) {
      run(0, cols_ - 1, true);
      continue;
    }
    long long in_lo = 0, in_hi = -1;
    if (inside_w >= 0) {
      const double w = inside_w / kDegToRad;
      in_lo = static_cast<long long>(std::ceil((lon - w + 180.0) / cell_deg_));
      in_hi = static_cast<long long>(std::floor((lon + w + 180.0) / cell_deg_)) - 1;
    }
    const double reach_deg = reach_w / kDegToRad;
    if (reach_w == kAll || reach_deg + cell_deg_ >= 180.0) {  // all the row may be reached
      if (in_lo > in_hi) {
        run(0, cols_ - 1, false);
      } else {
        run(in_lo, in_hi, true);
        run(in_hi + 1, in_lo + cols_ - 1, false);
      }
      continue;
    }
    const auto out_lo = static_cast<long long>(std::floor((lon - reach_deg + 180.0) / cell_deg_));
    const auto out_hi = static_cast<long long>(std::floor((lon + reach_deg + 180.0) / cell_deg_));
    if (in_lo > in_hi) {
      run(out_lo, out_hi, false);
    } else {
      run(out_lo, in_lo - 1, false);
      run(in_lo, in_hi, true);
      run(in_hi + 1, out_hi, false);
    }
  }
  total += CountRuns(runs, circle, edges);
  return total + CheckEdges(edges, circle);
}

template <class Visit>
void FlashIndex::ForCellsNear(const Circle& c, double lat, double lon, double miles,
                              Visit&& visit) const {
  // The rows and, in each, the columns of cells the circle may reach: its widest extent within
  // the row's band, as Count takes it, and one cell more on either side for the rounding.
  const double theta = miles / kEarthRadiusMiles, theta_deg = theta / kDegToRad;
  const double lat_lo = lat - theta_deg, lat_hi = lat + theta_deg;
  const auto [r_lo, r_hi] = RowsReached(lat, theta_deg);
  const double sin0 = std::sin(lat * kDegToRad), cos0 = std::cos(lat * kDegToRad);
  const double reach = std::cos(theta) - 1e-11;
  auto width = [&](double phi_deg) {
    const double phi = std::clamp(phi_deg, -90.0, 90.0) * kDegToRad;
    return HalfWidth(sin0, cos0, reach, std::sin(phi), std::cos(phi));
  };
  const bool has_widest = std::fabs(sin0) < std::cos(theta);
  const double widest_deg = has_widest ? std::asin(sin0 / std::cos(theta)) / kDegToRad : 0.0;
  int r = r_lo;
  auto cells = [&](const Row& row, int first, int last) {
    const std::size_t end = row.first[static_cast<std::size_t>(last) + 1];
    for (std::size_t k = row.first[static_cast<std::size_t>(first)]; k < end; ++k) {
      std::uint32_t b, e;
      if (InWindow(row, k, c, b, e)) visit(row.slots[k].cell, b, e, r, row.slots[k].col);
    }
  };
  for (; r <= r_hi; ++r) {
    const Row* row = &grid_[static_cast<size_t>(r)];
    if (row->slots.empty()) continue;
    const double edge_lo = -90.0 + r * cell_deg_, edge_hi = edge_lo + cell_deg_;
    const double band_lo = std::max(edge_lo, lat_lo), band_hi = std::min(edge_hi, lat_hi);
    double w = std::max(width(band_lo), width(band_hi));
    if (has_widest && widest_deg > band_lo && widest_deg < band_hi)
      w = std::max(w, width(widest_deg));
    if (w == kNone) continue;
    const double w_deg = w / kDegToRad;
    if (w == kAll || w_deg + 2 * cell_deg_ >= 180.0) {
      cells(*row, 0, cols_ - 1);
      continue;
    }
    const auto lo = static_cast<long long>(std::floor((lon - w_deg + 180.0) / cell_deg_)) - 1;
    const auto hi = static_cast<long long>(std::floor((lon + w_deg + 180.0) / cell_deg_)) + 1;
    const int wlo = Wrap(lo, cols_), whi = Wrap(hi, cols_);
    if (wlo <= whi) {
      cells(*row, wlo, whi);
    } else {
      cells(*row, wlo, cols_ - 1);
      cells(*row, 0, whi);
    }
  }
}

std::optional<Flash> FlashIndex::Nearest(double lat, double lon, double miles, TimeMs from,
                                         TimeMs to) const {
  if (from > to || !(miles > 0)) return std::nullopt;
  const Circle circle(*this, lat, lon, miles, from, to);
  // The cells nearest first, each with the least squared chord any point of it can have: once
  // that exceeds the nearest flash found, no later cell holds a nearer one.
  struct Near {
    double least;
    const Cell* cell;
    std::uint32_t b, e;
    int row, col;
  };
  // The bound: the haversine of the least latitude and longitude differences, the latter
  // weighted by the least cosine of latitude in the cell, with sin x taken as x - x^3/6, which
  // never exceeds it. The latitude's part is the same along a row.
  auto sin_below = [](double x) { return std::max(0.0, x - x * x * x / 6); };
  const double cos0 = std::cos(lat * kDegToRad);
  int bound_row = -1;
  double row_part = 0, lon_weight = 0;
  std::vector<Near> cells;
  std::shared_lock<RwLock> guard(lock_);
  ForCellsNear(
      circle, lat, lon, miles,
      [&](const Cell& cell, std::uint32_t b, std::uint32_t e, int row, int col) {
        if (row != bound_row) {
          const double lat_lo = -90.0 + row * cell_deg_, lat_hi = lat_lo + cell_deg_;
          const double dlat = std::max({0.0, lat_lo - lat, lat - lat_hi}) * kDegToRad;
          const double cos_least = std::max(
              0.0,
              std::min(std::cos(std::min(lat_hi, 90.0) * kDegToRad), std::cos(lat_lo * kDegToRad)));
          row_part = sin_below(dlat / 2) * sin_below(dlat / 2);
          lon_weight = cos0 * cos_least;
          bound_row = row;
        }
        const double lon_mid = -180.0 + (col + 0.5) * cell_deg_;
        const double dlon =
            std::max(0.0, std::fabs(std::remainder(lon - lon_mid, 360.0)) - cell_deg_ / 2) *
            kDegToRad;
        const double s = sin_below(dlon / 2);
        cells.push_back({4 * (row_part + lon_weight * s * s) * (1 - 1e-9), &cell, b, e, row, col});
      });
  auto farther = [](const Near& x, const Near& y) { return x.least > y.least; };
  std::make_heap(cells.begin(), cells.end(), farther);
  // A flash whose single precision squared chord exceeds that of one known inside by more than
  // twice the bound is farther for sure; the others are decided in double precision, by the
  // rule Count uses.
  std::optional<Flash> best;
  double best_chord2 = 0, best_f = std::numeric_limits<double>::infinity();
  const double slack = 2 * circle.bound;
  while (!cells.empty() && !(best && cells.front().least > best_chord2)) {
    std::pop_heap(cells.begin(), cells.end(), farther);
    const auto [least, cell_ptr, b, e, row, col] = cells.back();
    cells.pop_back();
    CellFrame frame;
    if (!Sees(circle, row, col, frame)) continue;
    const Cell& cell = *cell_ptr;
    for (std::uint32_t i = b; i < e; ++i) {
      const float d2 = cell.Near2(i, frame);
      if (d2 > circle.maybe || d2 > best_f + slack) continue;
      const Flash f{cell.time()[i], cell.lat()[i], cell.lon()[i]};
      const double chord2 = ChordSquared(circle.center, ToUnitVector(f.lat, f.lon));
      if (chord2 > circle.chord2) continue;
      if (!best || chord2 < best_chord2 || (chord2 == best_chord2 && f.time > best->time)) {
        best = f;
        best_chord2 = chord2;
      }
      best_f = std::min(best_f, static_cast<double>(d2));
    }
  }
  return best;
}

std::optional<TimeMs> FlashIndex::Newest(double lat, double lon, double miles, TimeMs from,
                                         TimeMs to) const {
  if (from > to || !(miles > 0)) return std::nullopt;
  const Circle circle(*this, lat, lon, miles, from, to);
  std::optional<TimeMs> newest;
  std::shared_lock<RwLock> guard(lock_);
  ForCellsNear(circle, lat, lon, miles,
               [&](const Cell& cell, std::uint32_t b, std::uint32_t e, int row, int col) {
                 // Newest first: the first flash inside is the cell's newest, and a cell none of
                 // whose flashes is newer than the one found is passed over.
                 CellFrame frame;
                 if ((newest && cell.time()[e - 1] <= *newest) || !Sees(circle, row, col, frame))
                   return;
                 for (std::uint32_t i = e; i-- > b && !(newest && cell.time()[i] <= *newest);) {
                   if (circle.Holds(cell, i, cell.Near2(i, frame))) {
                     newest = cell.time()[i];
                     break;
                   }
                 }
               });
  return newest;
}

}  // namespace strikecount
