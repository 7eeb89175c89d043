// Fuzzes the site table reader against the plain reference reading of the same rules.
//
// Input: one byte whose low four bits give the length of the site text, that many bytes of
// site text, then the table.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "location/site_table.h"
#include "reference_lookup.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t siteLength = std::min<std::size_t>(input[0] & 0x0F, size - 1);
  const std::string_view site = input.substr(1, siteLength);
  const std::string_view table = input.substr(1 + siteLength);

  std::string lat = "lat-before", lon = "lon-before";
  std::string expectedLat = lat, expectedLon = lon;
  stormtally::lookUpSite(table, site, lat, lon);
  stormtally::fuzzing::referenceLookUpSite(table, site, expectedLat, expectedLon);
  if (lat != expectedLat || lon != expectedLon) __builtin_trap();
  return 0;
}
