// Fuzzes make_site_table's converter: any report either converts or names a fault, and a
// table it makes always reads back, through the widget's own reader, to the coordinates it
// wrote for every site.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "location/site_table.h"
#include "reference_lookup.h"
#include "station_report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view report(reinterpret_cast<const char*>(data), size);
  const stormtally::tools::SiteTableResult result =
      stormtally::tools::siteTableFromStationReport(report);
  if (!result.error.empty()) {
    if (!result.table.empty()) __builtin_trap();
    return 0;
  }

  std::size_t sites = 0;
  for (const std::string& line : stormtally::fuzzing::tableLines(result.table)) {
    const auto fields = stormtally::fuzzing::lineFields(line);
    if (fields.size() != 4) __builtin_trap();
    std::string site = fields[0];
    for (char& ch : site) {
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - ('a' - 'A'));
    }
    std::string lat, lon;
    stormtally::lookUpSite(result.table, site, lat, lon);
    if (lat != fields[2] || lon != fields[3]) __builtin_trap();
    ++sites;
  }
  if (sites != result.sites || sites == 0) __builtin_trap();
  if (result.table.size() < 2 || result.table.substr(result.table.size() - 2) != "\r\n") {
    __builtin_trap();
  }
  return 0;
}
