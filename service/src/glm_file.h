// Reading GOES GLM L2 LCFA granules (netCDF-4) into flashes.
//
// Only the flash level is read: flash_lat, flash_lon and flash_time_offset_of_first_event. The
// time offsets come in two packings, which this reader tells apart without trusting _Unsigned:
//   - "milliseconds since <file start>", signed short, scale 2, offset 0 (2018-07 files);
//   - "seconds since <file start>", unsigned short, scale ~0.00038, offset -5 s (all later
//     files). Some of these files lack the _Unsigned attribute on the time variables, yet the
//     data is unsigned all the same.
// Rule: an explicit _Unsigned decides; without it a short is unsigned when add_offset is
// negative (that packing exists only to map 0..65535 onto -5..+20 s).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flash_index.h"
#include "time_util.h"

namespace strikecount {

struct GlmGranule {
  std::string platform;  // "G16", "G17", "G18", "G19"
  TimeMs start = 0;      // time_coverage_start
  TimeMs end = 0;        // time_coverage_end
  std::vector<Flash> flashes;
  std::size_t rejected = 0;    // flashes with a position or time that cannot be right
  bool time_unsigned = false;  // how the time offsets were unpacked
};

struct GlmReadResult {
  std::optional<GlmGranule> granule;
  std::string error;  // one line, set when granule is empty
};

GlmReadResult ReadGlmFile(const std::string& path);

// ReadGlmFile in a forked child process, so that a file which trips up the HDF5 library (a crash,
// a hang, runaway memory) costs that child and not the service. The child gets `timeout_ms`
// and 2 GiB of address space. `reader` replaces ReadGlmFile in tests.
using GlmReader = GlmReadResult (*)(const std::string& path);
GlmReadResult ReadGlmFileIsolated(const std::string& path, int timeout_ms = 30000,
                                  GlmReader reader = ReadGlmFile);

// What the standard file name tells: OR_GLM-L2-LCFA_G16_s20181830433000_e…_c….nc.
struct GlmFileName {
  std::string platform;
  TimeMs start = 0;
  TimeMs end = 0;
};
std::optional<GlmFileName> ParseGlmFileName(std::string_view file_name);

}  // namespace strikecount
