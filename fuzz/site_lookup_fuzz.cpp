// Fuzzes the site lookup through the whole widget on the fake desktop: whatever the table
// and the site box hold, the lookup copies what the reference reading gives, hides the box
// and sends exactly one request, and the refresh cycle is in its first wait.
//
// Input: a flag byte (low four bits: site text length; bit 4: no table beside the program;
// bit 5: run by the switch button rather than Enter; bit 6: a key other than Enter, taken
// from the next two bytes), the site text, then the table.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fake_desktop.h"
#include "location/site_lookup.h"
#include "reference_lookup.h"

using stormtally::testing::Harness;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::uint8_t flags = data[0];
  input.remove_prefix(1);
  const bool noTable = flags & 0x10;
  const bool bySwitch = flags & 0x20;
  int key = stormtally::kEnterKey;
  if (flags & 0x40) {
    if (input.size() < 2) return 0;
    key = static_cast<std::uint8_t>(input[0]) | (static_cast<std::uint8_t>(input[1]) << 8);
    input.remove_prefix(2);
  }
  const std::size_t siteLength = std::min<std::size_t>(flags & 0x0F, input.size());
  const std::string site(input.substr(0, siteLength));
  const std::string table(input.substr(siteLength));

  Harness h;
  if (!noTable) h.desktop.files[stormtally::kSiteTableName] = table;
  h.c.Nexrad_Site.takeUserText(site);
  std::string expectedLat = h.c.ID_LAT.text(), expectedLon = h.c.ID_LON.text();
  if (!noTable) stormtally::fuzzing::referenceLookUpSite(table, site, expectedLat, expectedLon);

  const int keyBefore = key;
  if (bySwitch) {
    h.c.switch_.press();
  } else {
    h.widget.siteBoxKeyPress(key);
    if (key != keyBefore) __builtin_trap();
  }

  if (!bySwitch && keyBefore != stormtally::kEnterKey) {
    // Any other key only types into the box.
    if (!h.desktop.requests.empty() || !h.c.Nexrad_Site.visible()) __builtin_trap();
    if (h.c.Timer1.enabled() || h.c.update.enabled()) __builtin_trap();
    return 0;
  }
  if (h.c.ID_LAT.text() != expectedLat || h.c.ID_LON.text() != expectedLon) __builtin_trap();
  if (h.c.Nexrad_Site.visible() || h.desktop.requests.size() != 1) __builtin_trap();
  if (!h.c.Timer1.enabled() || h.c.update.enabled()) __builtin_trap();
  return 0;
}
