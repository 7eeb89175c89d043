// The site table reader (lookUpSite) and the site table shipped beside the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "location/site_table.h"

namespace stormtally::testing {
namespace {

constexpr const char* kBefore = "before";  // lat or lon left as it was

TEST(SiteTableReader, AppliesTheLastMatchingLine) {
  const std::tuple<const char*, std::string, std::string, std::string, std::string> cases[] = {
      {"CrLf", "kabc|A|1|2\r\nklsx|B|38.699|-90.683\r\n", "KLSX", "38.699", "-90.683"},
      {"LoneCrAndLf", "klsx||1|2\rkxyz||5|6\nkabc||7|8\n\rkdef||9|0", "KXYZ", "5", "6"},
      {"LastLineUnterminated", "\r\n\n\r\rkabc||1|2\r\nklsx||3|-90.683", "KLSX", "3", "-90.683"},
      {"EmptyFile", "", "KLSX", kBefore, kBefore},
      {"ThreeFieldsSetLat", "klsx||3", "KLSX", "3", kBefore},
      {"TwoFieldsSetNothing", "klsx|name\r\nklsx\r\n", "KLSX", kBefore, kBefore},
      {"LaterShortLine", "klsx||3|4\r\nklsx||5\r\nklsx|x\r\n", "KLSX", "5", "4"},
      {"FieldsAfterFour", "klsx|||\rklsx||1|2|3|4|", "KLSX", "1", "2"},
      {"EmptyFields", "klsx|||", "KLSX", "", ""},
      {"OnlyBlanksTrimmed", "klsx|  |\t1\t|  -90 683  ", "KLSX", "\t1\t", "-90 683"},
      {"BlanksAroundId", " klsx |n|1|2", "KLSX", "1", "2"},
      {"OnlyField0LowerCase", "KLSX||1|2\r\nkabc|klsx|3|4\r\nkl|sx|5|6", "KLSX", kBefore, kBefore},
      {"LowerCasedAndContained", "klsx||1|2\r\nxklsx||3|4\r\nkabc||5|6\r\n", "LsX", "3", "4"},
      {"LongerSite", "klsx||1|2", "KLSXX", kBefore, kBefore},
      {"BlankSite", "kabc||1|2\r\n    ||3|4\r\n", "  ", kBefore, kBefore},
      {"EmptySite", "kabc||1|2\r\n||3|4\r\n", "", kBefore, kBefore},
      {"HighBytes", "\xe9klsx\xff|\xc3\xa9|1\xb0|2\xb0", "KLSX", "1\xb0", "2\xb0"},
      {"HighBytesNotFolded", "\xe9klsx||1|2", "\xc9KLSX", kBefore, kBefore},
      {"Nul", std::string("kl\0sx||1|2", 10), std::string("L\0S", 3), "1", "2"},
  };
  for (const auto& [name, table, site, wantLat, wantLon] : cases) {
    std::string lat = kBefore, lon = kBefore;
    lookUpSite(table, site, lat, lon);
    EXPECT_EQ(lat + "|" + lon, wantLat + "|" + wantLon) << name;
  }
}

// --- the table shipped beside the program ---

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string kShippedTable = std::string(STORMTALLY_SOURCE_DIR) + "/data/radars.gis";

TEST(ShippedSiteTable, HoldsEverySiteOnItsOwnCrLfLineWithTheReportsCoordinates) {
  const std::string table = readFile(kShippedTable);
  ASSERT_FALSE(table.empty()) << kShippedTable;
  EXPECT_EQ(std::count(table.begin(), table.end(), '\r'), 210);
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 210);
  EXPECT_EQ(table.rfind("\r\n"), table.size() - 2);
  // As NOAA's station report writes them.
  struct Site {
    const char *text, *lat, *lon;
  };
  for (const Site& s :
       {Site{"KTLX", "35.333361", "-97.277761"}, Site{"klsx", "38.698611", "-90.682778"},
        Site{"PGUA", "13.455833", "144.811111"}}) {
    std::string lat, lon;
    lookUpSite(table, s.text, lat, lon);
    EXPECT_EQ(lat + "|" + lon, std::string(s.lat) + "|" + s.lon) << s.text;
  }
}

TEST(ShippedSiteTable, IsExactlyWhatTheToolMakesFromTheStationReport) {
  const std::string report = std::string(STORMTALLY_SHARED_DATA) + "/nexrad-stations.txt";
  if (!std::ifstream(report)) GTEST_SKIP() << "no NOAA station report at " << report;
  const std::string made = ::testing::TempDir() + "radars.gis." + std::to_string(::getpid());
  const std::string command = std::string("\"") + STORMTALLY_MAKE_SITE_TABLE + "\" \"" + report +
                              "\" \"" + made + "\" > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::string expected = readFile(made);
  std::remove(made.c_str());
  ASSERT_FALSE(expected.empty());
  EXPECT_TRUE(readFile(kShippedTable) == expected)
      << "data/radars.gis is stale: run make_site_table";
}

}  // namespace
}  // namespace stormtally::testing
