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

// The answer of ReadGlmFile as bytes, as the reader program writes it to its standard output,
// and back. Decoding checks every size: a short or padded answer is an error, not a granule.
std::string EncodeGlmReadResult(const GlmReadResult& result);
GlmReadResult DecodeGlmReadResult(std::string_view bytes);

// The reader program (strikecountd-glm-reader) in the folder of the running executable.
std::string DefaultGlmReaderProgram();

// ReadGlmFile in the reader program, a process of its own started with posix_spawn for each
// file, so that a file which trips up the HDF5 library (a crash, a hang, runaway memory) costs
// that process and not the service. The reader caps its own address space at 2 GiB; it gets
// `timeout_ms` and is then killed. Nothing of this process is copied into it: its threads may
// hold locks (allocator, logging, netCDF) that a copy could never release.
GlmReadResult ReadGlmFileIsolated(const std::string& path, const std::string& reader_program,
                                  int timeout_ms = 30000);

// What the standard file name tells: OR_GLM-L2-LCFA_G16_s20181830433000_e…_c….nc.
struct GlmFileName {
  std::string platform;
  TimeMs start = 0;
  TimeMs end = 0;
};
std::optional<GlmFileName> ParseGlmFileName(std::string_view file_name);

}  // namespace strikecount
