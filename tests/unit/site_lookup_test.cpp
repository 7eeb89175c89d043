// The site lookup's effects on the widget: switch_Click and Enter in the site box.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fake_desktop.h"
#include "location/site_lookup.h"
#include "query/request_url.h"

namespace stormtally::testing {
namespace {

const std::string kTable =
    "kabc|ABC|10.5|-20.5\r\n"
    "klsx|ST LOUIS|38.698611|-90.682778\r\n"
    "ktlx|OKLAHOMA CITY|35.333361|-97.277761\r\n";

std::string urlFor(const std::string& lat, const std::string& lon,
                   const std::string& distance = "128") {
  return buildRequestUrl(kTestService, lat, lon, distance);
}

void pressEnter(Harness& h) {
  int key = kEnterKey;
  h.widget.siteBoxKeyPress(key);
  EXPECT_EQ(key, kEnterKey) << "Enter must reach the site box unchanged";
}

void pressSwitch(Harness& h) {
  h.c.switch_.press();
}

// The lookup's steps in order, with the request nested inside it: when the GET goes out the
// coordinates are already copied and the site box is already hidden, and the GET is over
// before the lookup's handler returns. Enter gives the same steps (next test).
TEST(SiteLookup, RunsItsStepsInOrderWithTheRequestNested) {
  Harness h;
  h.desktop.files[kSiteTableName] = kTable;
  h.c.Nexrad_Site.takeUserText("KTLX");
  // Both refresh timers on, so that switching them off shows in the log.
  h.c.Timer1.setEnabled(true);
  h.c.update.setEnabled(true);
  h.desktop.log.clear();

  bool inHandler = false;
  struct AtGet {
    bool inHandler, boxVisible;
    std::string lat, lon;
  };
  std::optional<AtGet> atGet;
  h.desktop.nextAnswer = [&](const std::string&) {
    atGet = AtGet{inHandler, h.c.Nexrad_Site.visible(), h.c.ID_LAT.text(), h.c.ID_LON.text()};
    return FakeDesktop::Answer{{true, 200, "17", ""}, 0};
  };

  inHandler = true;
  pressSwitch(h);
  inHandler = false;

  const std::vector<std::string> expected = {"repaint",
                                             "focus",
                                             "Timer1 off",
                                             "update off",
                                             "read(radars.gis)",
                                             "SetWindowPos(TOPMOST,0x3)",
                                             "SetWindowPos(TOPMOST,0x53)",
                                             "focus",
                                             "repaint",
                                             "GET " + urlFor("35.333361", "-97.277761"),
                                             "Timer1 on"};
  EXPECT_EQ(h.desktop.log, expected);
  ASSERT_TRUE(atGet) << "Command1 was not pressed";
  EXPECT_TRUE(atGet->inHandler);
  EXPECT_FALSE(atGet->boxVisible);
  EXPECT_EQ(atGet->lat, "35.333361");
  EXPECT_EQ(atGet->lon, "-97.277761");
  EXPECT_EQ(h.c.tstrikes.caption(), "17");
  EXPECT_TRUE(h.c.Timer1.enabled());
  EXPECT_FALSE(h.c.update.enabled());
}

TEST(SiteLookup, SwitchAndEnterGiveTheSameResult) {
  for (const char* site : {"KLSX", "ktlx", "TLX", "KXXX", ""}) {
    Harness byEnter;
    Harness bySwitch;
    for (Harness* h : {&byEnter, &bySwitch}) {
      h->desktop.files[kSiteTableName] = kTable;
      h->c.Nexrad_Site.takeUserText(site);
      h->c.Timer1.setEnabled(true);
      h->c.update.setEnabled(true);
      h->desktop.log.clear();
    }
    pressEnter(byEnter);
    pressSwitch(bySwitch);
    EXPECT_EQ(byEnter.desktop.log, bySwitch.desktop.log) << site;
    EXPECT_EQ(byEnter.c.ID_LAT.text(), bySwitch.c.ID_LAT.text()) << site;
    EXPECT_EQ(byEnter.c.ID_LON.text(), bySwitch.c.ID_LON.text()) << site;
    EXPECT_EQ(byEnter.c.Nexrad_Site.visible(), bySwitch.c.Nexrad_Site.visible()) << site;
    EXPECT_EQ(byEnter.c.update.enabled(), bySwitch.c.update.enabled()) << site;
  }
}

struct EffectCase {
  const char* name;
  std::optional<std::string> table;  // nothing: radars.gis is missing or unreadable
  std::string site;
  std::string lat;
  std::string lon;
};

// The coordinates the window starts with (those of KLSX).
const std::string kStartLat = "38.699";
const std::string kStartLon = "-90.683";

const EffectCase kEffectCases[] = {
    {"OtherSite", kTable, "KTLX", "35.333361", "-97.277761"},
    {"NoMatchingLine", kTable, "KXXX", kStartLat, kStartLon},
    {"NotANumberIsCopied", "ktlx||north|west", "KTLX", "north", "west"},
    {"EmptySiteBox", kTable, "", kStartLat, kStartLon},
    {"MissingTable", std::nullopt, "KTLX", kStartLat, kStartLon},
};

void PrintTo(const EffectCase& c, std::ostream* os) {
  *os << c.name;
}

class SiteLookupEffect : public ::testing::TestWithParam<EffectCase> {};

// The table's own quirks are site_table_test's. Whatever the table gives, the box is hidden and
// exactly one request goes out with the coordinates the lookup left, and the refresh cycle's first
// wait begins.
TEST_P(SiteLookupEffect, CopiesCoordinatesHidesTheBoxAndQueries) {
  const EffectCase& c = GetParam();
  Harness h;
  if (c.table) h.desktop.files[kSiteTableName] = *c.table;
  h.c.Nexrad_Site.takeUserText(c.site);

  pressEnter(h);

  EXPECT_EQ(h.c.ID_LAT.text(), c.lat);
  EXPECT_EQ(h.c.ID_LON.text(), c.lon);
  EXPECT_EQ(h.c.ID_DISTANCE.text(), "128");
  EXPECT_FALSE(h.c.Nexrad_Site.visible());
  ASSERT_EQ(h.desktop.requests.size(), 1u);
  EXPECT_EQ(h.desktop.requests[0].url, urlFor(c.lat, c.lon));
  EXPECT_TRUE(h.c.Timer1.enabled());
  EXPECT_FALSE(h.c.update.enabled());
}

INSTANTIATE_TEST_SUITE_P(Cases, SiteLookupEffect, ::testing::ValuesIn(kEffectCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SiteLookup, OtherKeysOnlyTypeIntoTheBox) {
  for (int key : {0, 8, 9, 10, 27, 32, int{'k'}, int{'K'}, 127, 255, 13 + 256, 0xFFFF}) {
    Harness h;
    h.desktop.files[kSiteTableName] = kTable;
    h.desktop.log.clear();
    int typed = key;
    h.widget.siteBoxKeyPress(typed);
    EXPECT_EQ(typed, key);
    EXPECT_TRUE(h.desktop.log.empty()) << "key " << key << ": " << h.desktop.log.front();
    EXPECT_TRUE(h.c.Nexrad_Site.visible()) << key;
    EXPECT_EQ(h.c.ID_LAT.text(), kStartLat) << key;
  }
}

TEST(SiteLookup, ReadsTheTableAfreshEveryTime) {
  Harness h;
  h.c.Nexrad_Site.takeUserText("KTLX");
  h.desktop.files[kSiteTableName] = "ktlx||1|2\r\n";
  pressEnter(h);
  h.desktop.files[kSiteTableName] = "ktlx||3|4\r\n";
  pressEnter(h);
  EXPECT_EQ(h.c.ID_LAT.text(), "3");
  EXPECT_EQ(h.c.ID_LON.text(), "4");
  // The table vanishing later leaves the last coordinates in place.
  h.desktop.files.erase(kSiteTableName);
  pressEnter(h);
  ASSERT_EQ(h.desktop.requests.size(), 3u);
  EXPECT_EQ(h.desktop.requests[2].url, urlFor("3", "4"));
}

// In custom-location mode the lookup still updates the site's coordinates, but the request
// asks about the custom location.
TEST(SiteLookup, CustomModeStillLooksUpButQueriesTheCustomLocation) {
  Harness h;
  h.desktop.files[kSiteTableName] = kTable;
  h.c.Nexrad_Site.takeUserText("KTLX");
  h.c.USR.setValue(1);
  h.c.USR_LAT.setText("40.1");
  h.c.USR_LON.setText("-100.2");
  pressSwitch(h);
  EXPECT_EQ(h.c.ID_LAT.text(), "35.333361");
  EXPECT_FALSE(h.c.Nexrad_Site.visible());
  ASSERT_EQ(h.desktop.requests.size(), 1u);
  EXPECT_EQ(h.desktop.requests[0].url, urlFor("40.1", "-100.2", "5"));
}

}  // namespace
}  // namespace stormtally::testing
