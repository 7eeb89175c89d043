// The site lookup's own effects on the widget, run by Enter in the site box or by switch.
#include <gtest/gtest.h>

#include "fake_desktop.h"
#include "location/site_lookup.h"
#include "protocol/wire_contract.h"

namespace stormtally::testing {
namespace {

const std::string kTable =
    "kabc||10.5|-20.5\r\nklsx||38.6986|-90.6828\r\nktlx||35.3334|-97.2778\r\n";

std::string urlFor(const std::string& lat, const std::string& lon, const char* distance = "128") {
  return wire::countUrl(kTestService, lat, lon, distance);
}

// The table's own quirks are site_table_test's. Whatever the table gives (nothing: the table
// is missing), the coordinates are copied and the box hidden before the one request, which asks
// with them, and the refresh cycle's first wait begins. Other keys only type into the box.
TEST(SiteLookup, CopiesCoordinatesHidesTheBoxAndQueries) {
  using Row = std::tuple<std::optional<std::string>, const char*, int, const char*, const char*>;
  const char *lat = "38.699", *lon = "-90.683";  // the window's own, those of KLSX
  // clang-format off
  const Row cases[] = {
      {kTable, "KTLX", kEnterKey, "35.3334", "-97.2778"},
      {kTable, "KTLX", -1, "35.3334", "-97.2778"},  // by switch
      {kTable, "KXXX", kEnterKey, lat, lon},
      {"ktlx||north|west", "KTLX", kEnterKey, "north", "west"},
      {kTable, "", kEnterKey, lat, lon}, {std::nullopt, "KTLX", kEnterKey, lat, lon}};
  // clang-format on
  for (const auto& [table, site, key, wantLat, wantLon] : cases) {
    SCOPED_TRACE(std::string(site) + (key == -1 ? " by switch" : " by Enter"));
    Harness h;
    if (table) h.desktop.files[kSiteTableName] = *table;
    h.c.Nexrad_Site.takeUserText(site);
    h.c.update.setEnabled(true);
    std::optional<std::tuple<bool, std::string, std::string>> atGet;
    h.desktop.onRequest = [&] {
      atGet = {h.c.Nexrad_Site.visible(), h.c.ID_LAT.text(), h.c.ID_LON.text()};
    };
    int typed = key;
    key == -1 ? h.c.switch_.press() : h.widget.siteBoxKeyPress(typed);
    h.settle();
    EXPECT_EQ(typed, key) << "Enter must reach the site box unchanged";
    EXPECT_EQ(atGet, std::make_tuple(false, wantLat, wantLon));
    EXPECT_EQ(h.desktop.requests.size(), 1u);
    EXPECT_EQ(h.desktop.requests.at(0).url, urlFor(wantLat, wantLon));
    EXPECT_EQ(std::make_pair(h.c.Timer1.enabled(), h.c.update.enabled()),
              std::make_pair(true, false));
  }
  for (int key : {0, 8, 9, 10, 27, 32, int{'k'}, int{'K'}, 127, 255, 13 + 256, 0xFFFF}) {
    Harness h;
    h.desktop.files[kSiteTableName] = kTable;
    int typed = key;
    h.widget.siteBoxKeyPress(typed);
    EXPECT_EQ(typed, key);
    EXPECT_TRUE(h.desktop.log.empty() && h.c.Nexrad_Site.visible()) << "key " << key;
  }
}

// The table is read afresh every time; when it vanishes the last coordinates stay. In
// custom-location mode the lookup still updates the site's coordinates, but the request asks
// about the custom location.
TEST(SiteLookup, ReadsTheTableAfreshEveryTimeInEitherMode) {
  Harness h;
  h.c.Nexrad_Site.takeUserText("KTLX");
  for (const char* table : {"ktlx||1|2\r\n", "ktlx||3|4\r\n", ""}) {
    h.desktop.files[kSiteTableName] = table;
    if (!*table) h.desktop.files.clear();
    h.c.switch_.press();
  }
  EXPECT_EQ(h.desktop.requests.at(2).url, urlFor("3", "4"));
  h.desktop.files[kSiteTableName] = kTable;
  h.c.USR.setValue(1);
  h.c.USR_LAT.setText("40.1");
  h.c.USR_LON.setText("-100.2");
  h.c.switch_.press();
  EXPECT_EQ(h.c.ID_LAT.text(), "35.3334");
  EXPECT_EQ(h.desktop.requests.at(3).url, urlFor("40.1", "-100.2", "5"));
}

}  // namespace
}  // namespace stormtally::testing
