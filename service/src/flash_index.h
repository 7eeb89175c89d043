// The flashes the service holds, indexed for counting by circle and time window.
//
// The globe is cut into cells of a fixed size in latitude and longitude. Each row of cells keeps
// only its occupied cells, by column, each with its size and its oldest and newest time in one
// record, and the row's running sums, so that a run of cells is summed without touching their
// flashes. Each cell keeps its flashes sorted by time, each with its offset east and north from
// the cell's centre in 16-bit units, field by field. A count works row by row: from the circle's
// width along the row's two edges it takes the run of cells wholly inside (each counted by its
// size, or by two binary searches on time where the window cuts into it) and the cells on the
// edge, whose flashes in the window are checked one by one with the squared chord length, found
// from the offsets with no trigonometry per flash and four bytes read.
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

// A circle seen from one cell of the index: the squared chord from the circle's centre to a flash
// of the cell with the offsets (a, b) is close to base + east a + north b + tangent (a^2 + b^2).
struct CellFrame {
  float base, east, north, tangent;
};

class FlashIndex {
 public:
  // Cells of 0.4°: smaller ones cost more per row and per cell on a circle's edge than they
  // save in flashes checked, larger ones more in flashes checked.
  explicit FlashIndex(double cell_degrees = 0.4);
  ~FlashIndex();
  FlashIndex(const FlashIndex&) = delete;
  FlashIndex& operator=(const FlashIndex&) = delete;

  // Flashes must have finite lat in [-90, 90] and lon in [-180, 180].
  void Insert(const std::vector<Flash>& flashes);

  // Drops every flash with time < cutoff; returns how many. With `evicted`, appends them there
  // (so that they can move to another index).
  std::size_t EvictBefore(TimeMs cutoff, std::vector<Flash>* evicted = nullptr);

  // Drops the oldest flashes (whole seconds at a time) until at most `keep` remain.
  std::size_t EvictOldestBeyond(std::size_t keep);

  // Flashes with from <= time <= to within `miles` (great circle) of (lat, lon).
  std::uint64_t Count(double lat, double lon, double miles, TimeMs from, TimeMs to) const;

  // Of the flashes Count would count, the one nearest to (lat, lon) (the newer of two equally
  // near), and the newest one's time. These look at every flash near the circle's edge and
  // inside it in the cells it reaches: slower than Count, which sums whole cells.
  std::optional<Flash> Nearest(double lat, double lon, double miles, TimeMs from, TimeMs to) const;
  std::optional<TimeMs> Newest(double lat, double lon, double miles, TimeMs from, TimeMs to) const;

  std::size_t size() const;
  std::optional<TimeMs> OldestTime() const;

 private:
  // One cell's flashes, oldest first, in one block holding an array per field: the times, the
  // positions as given and the offsets east and north of the cell's centre (see CellFrame). A count
  // checks the offsets, a vector at a time, and goes back to the position for the rare flash that
  // lies within their rounding of the edge, so its answer is that of a check in double precision.
  class Cell {
   public:
    std::uint32_t capacity() const { return capacity_; }
    TimeMs* time() const { return At<TimeMs>(0); }
    double* lat() const { return At<double>(8); }
    double* lon() const { return At<double>(16); }
    std::int16_t* east() const { return At<std::int16_t>(24); }
    std::int16_t* north() const { return At<std::int16_t>(26); }
    // The squared chord to flash i in single precision, seen through frame f.
    float Near2(std::uint32_t i, const CellFrame& f) const;
    // Moves the first n flashes into a block for `capacity` flashes.
    void Resize(std::uint32_t n, std::uint32_t capacity);
    // Moves flashes [pos, n) one place on, to make room at pos.
    void OpenGap(std::uint32_t pos, std::uint32_t n);
    // Drops the first m of n flashes.
    void DropFront(std::uint32_t m, std::uint32_t n);
    // Fills the offsets after the n flashes up to the next multiple of kLanes with the cell's
    // centre, so that a count can take the flashes kLanes at a time and take the centre off.
    void Pad(std::uint32_t n);
    static constexpr std::uint32_t kLanes = 8;

   private:
    static constexpr std::size_t kBytesPerFlash = 28;
    // The array of a field that starts `offset` bytes per flash into the block.
    template <class T>
    T* At(std::size_t offset) const {
      return reinterpret_cast<T*>(block_.get() + offset * capacity_);
    }
    struct Free {
      void operator()(unsigned char* p) const;
    };
    std::unique_ptr<unsigned char, Free> block_;
    std::uint32_t capacity_ = 0;
  };
  // An occupied cell with what a count reads of it before its flashes, in one place.
  struct Slot {
    TimeMs oldest, newest;
    Cell cell;
    std::uint32_t size;
    std::uint16_t col;
  };
  // The occupied cells of one row, by ascending column.
  struct Row {
    std::vector<Slot> slots;
    // Flashes in the cells before each (one entry more than cells), and the oldest and newest
    // time in the row: a run of cells the window holds whole is counted by one subtraction.
    std::vector<std::uint32_t> before;
    TimeMs row_oldest = 0, row_newest = 0;
    // For each column (and one past the last), the first cell at or after it.
    std::vector<std::uint16_t> first;
    bool changed = false;
  };
  struct Circle;
  // The frame of the cell in `row` and `col`; false when the cell lies too far from the circle
  // to hold a flash within it.
  bool Sees(const Circle& c, int row, int col, CellFrame& f) const;
  // A cell's centre and the unit vectors east and north there.
  struct Axes {
    UnitVector centre, east, north;
  };
  Axes AxesOf(int row, int col) const;
  // Cells on the edge gathered for checking, their flashes [begin, end) fetched meanwhile: a
  // count asks memory for many cells at once instead of waiting for each in turn.
  struct Edges {
    struct Item {
      const Cell* cell;
      CellFrame frame;
      std::uint32_t begin, end;
      bool whole_cell;
    };
    static constexpr std::size_t kCapacity = 64;
    Item items[kCapacity];
    std::size_t size = 0;
  };
  static std::uint64_t CheckEdges(Edges& edges, const Circle& c);
  // Of the flashes [b, e) of a cell, those whose squared chord through the frame lies between
  // `sure` and `maybe`, checked in double precision: how many lie inside.
  static std::uint32_t CheckBetween(const Cell& cell, std::uint32_t b, std::uint32_t e,
                                    const CellFrame& frame, const Circle& c);

  std::size_t EvictBeforeLocked(TimeMs cutoff, std::vector<Flash>* evicted);
  // Calls visit(cell, b, e, row, column) for the flashes [b, e) of each cell the circle may
  // reach that lie in its time window. The caller holds the shared lock.
  template <class Visit>
  void ForCellsNear(const Circle& c, double lat, double lon, double miles, Visit&& visit) const;
  // The flashes [b, e) of cell k of `row` in the circle's time window; false when none can be.
  static bool InWindow(const Row& row, std::size_t k, const Circle& c, std::uint32_t& b,
                       std::uint32_t& e);
  // The first and last row a circle of angular radius `theta_deg` around latitude `lat` reaches.
  std::pair<int, int> RowsReached(double lat, double theta_deg) const;
  // Brings `before`, `first` and the row's time span up to date after inserts or evictions.
  void Summarize(Row& row) const;
  // Runs of cells [first, last] (wrapped column numbers) of a row, gathered for counting: the
  // batch looks up its columns, then its cells, each step for every run at once, so that memory
  // is asked for many rows together instead of one fetch waiting on another. `whole`: every
  // cell of the run lies inside the circle.
  struct Runs {
    struct Item {
      const Row* row;
      int r, first, last;
      bool whole;
      std::size_t k, end;  // the run's occupied cells, once looked up
    };
    static constexpr std::size_t kCapacity = 32;
    Item items[kCapacity];
    std::size_t size = 0;
  };
  std::uint64_t CountRuns(Runs& runs, const Circle& c, Edges& edges) const;
  // Flashes in the cells of one run, all inside the circle or each checked against it.
  // (Edge cells are queued in `edges` and counted by CheckEdges.)
  std::uint64_t CountRun(const Runs::Item& run, const Circle& c, Edges& edges) const;

  const double cell_deg_;
  const int rows_, cols_;
  std::vector<double> lat_sin_, lat_cos_;  // per row edge, rows_ + 1 entries
  // The cells' centres: sine and cosine of the latitude per row, of the longitude per column.
  std::vector<double> mid_sin_, mid_cos_, col_sin_, col_cos_;
  // The largest offset east or north of a cell's centre a flash can have, and the unit of the
  // 16-bit numbers the offsets are kept in (radians).
  const double offset_limit_, unit_;

  mutable RwLock lock_;
  std::vector<Row> grid_;  // every row, occupied or not: one look-up less per row
  std::map<TimeMs, std::uint32_t> per_second_;  // flashes held per whole second
  std::size_t size_ = 0;
};

}  // namespace strikecount
