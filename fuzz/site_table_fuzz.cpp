// Fuzzes the site table reader, which scans the table in one pass, against a plain reading of
// the same rules: split into lines, then into fields, then match.
//
// Input: one byte whose low four bits give the length of the site text, that many bytes of
// site text, then the table.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "location/site_table.h"

namespace {

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? ""
                                    : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Lines end at CR LF, CR or LF; fields split at "|"; field 0 must contain the lower-cased
// site, and a site text of blanks matches nothing.
void plainLookUp(std::string_view table, std::string site, std::string& lat, std::string& lon) {
  if (trimmed(site).empty()) return;
  for (char& ch : site) ch = (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch;
  std::string text(table);
  for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; ++at) {
    text.erase(at, 1);
  }
  for (char& ch : text) ch = ch == '\r' ? '\n' : ch;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string fields[4];
    std::size_t count = 0, from = start;
    while (count < 4 && from <= end) {
      const std::size_t bar = std::min(text.find('|', from), end);
      fields[count++] = text.substr(from, bar - from);
      from = bar + 1;
    }
    if (!fields[0].empty() && fields[0].find(site) != std::string::npos) {
      if (count >= 3) lat = trimmed(fields[2]);
      if (count >= 4) lon = trimmed(fields[3]);
    }
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t siteLength = std::min<std::size_t>(input[0] & 0x0F, size - 1);
  const std::string site(input.substr(1, siteLength));
  const std::string_view table = input.substr(1 + siteLength);
  std::string lat = "lat-before", lon = "lon-before", plainLat = lat, plainLon = lon;
  stormtally::lookUpSite(table, site, lat, lon);
  plainLookUp(table, site, plainLat, plainLon);
  if (lat != plainLat || lon != plainLon) __builtin_trap();
  return 0;
}
