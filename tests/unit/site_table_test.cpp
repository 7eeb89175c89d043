// The site table reader (lookUpSite) and the site table shipped beside the program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "location/site_table.h"

namespace stormtally::testing {
namespace {

constexpr const char* kLatBefore = "lat-before";
constexpr const char* kLonBefore = "lon-before";

struct ReaderCase {
  const char* name;
  std::string table;
  std::string site;
  std::string lat;  // expected; kLatBefore when unchanged
  std::string lon;
};

// A line of 200 characters before its terminator: a long name between the id and the
// coordinates.
std::string line200() {
  const std::string coordinates = "|38.699|-90.683";
  return "klsx|" + std::string(200 - 5 - coordinates.size(), 'n') + coordinates + "\r\n";
}

const ReaderCase kReaderCases[] = {
    {"CrLf", "kabc|A|1|2\r\nklsx|B|38.699|-90.683\r\n", "KLSX", "38.699", "-90.683"},
    {"LoneCrEndsLine", "klsx||1|2\rkxyz||5|6\r", "KXYZ", "5", "6"},
    {"LoneLfEndsLine", "klsx||1|2\nkxyz||5|6\n", "KXYZ", "5", "6"},
    {"LfCrIsTwoLineEnds", "klsx||1|2\n\rkxyz||5|6", "KXYZ", "5", "6"},
    {"MixedEndsFirst", "a||1|1\r\nb||2|2\rc||3|3\nd||4|4", "A", "1", "1"},
    {"MixedEndsAfterCr", "a||1|1\r\nb||2|2\rc||3|3\nd||4|4", "C", "3", "3"},
    {"MixedEndsLastUnterminated", "a||1|1\r\nb||2|2\rc||3|3\nd||4|4", "D", "4", "4"},
    {"NoFinalTerminator", "kabc||1|2\r\nklsx||3|4", "KLSX", "3", "4"},
    {"LonNotCutAtEndOfFile", "klsx||3|-90.683", "KLSX", "3", "-90.683"},
    {"EmptyLinesSkipped", "\r\n\r\n\n\r\rklsx||3|4\r\n\r\n\n", "KLSX", "3", "4"},
    {"OnlyEmptyLines", "\r\n\n\r", "KLSX", kLatBefore, kLonBefore},
    {"EmptyFile", "", "KLSX", kLatBefore, kLonBefore},
    {"ThreeFieldsSetLatOnly", "klsx||3", "KLSX", "3", kLonBefore},
    {"TwoFieldsSetNothing", "klsx|name", "KLSX", kLatBefore, kLonBefore},
    {"IdAloneSetsNothing", "klsx\r\n", "KLSX", kLatBefore, kLonBefore},
    {"LaterShortLineKeepsLon", "klsx||3|4\r\nklsx||5\r\n", "KLSX", "5", "4"},
    {"LaterTwoFieldLineKeepsBoth", "klsx||3|4\r\nklsx|x\r\n", "KLSX", "3", "4"},
    {"EmptyFieldsAreCopied", "klsx|||", "KLSX", "", ""},
    {"FieldsAfterFourIgnored", "klsx||1|2|3|4", "KLSX", "1", "2"},
    {"BlanksTrimmed", "klsx|  |  38.699   |   -90.683  \r\n", "KLSX", "38.699", "-90.683"},
    {"OnlyBlanksTrimmedNotTabs", "klsx||\t1\t| 2\t", "KLSX", "\t1\t", "2\t"},
    {"BlanksInsideKept", "klsx||38 .699|-90 683", "KLSX", "38 .699", "-90 683"},
    {"BlanksAroundIdStillContain", " klsx |n|1|2", "KLSX", "1", "2"},
    {"UpperCaseIdNeverMatches", "KLSX||1|2\r\n", "KLSX", kLatBefore, kLonBefore},
    {"SiteTextLowerCased", "klsx||1|2", "KlSx", "1", "2"},
    {"ContainmentNotEquality", "klsx||1|2", "LSX", "1", "2"},
    {"LongerSiteTextNoMatch", "klsx||1|2", "KLSXX", kLatBefore, kLonBefore},
    {"SiteInOtherFieldNoMatch", "kabc|klsx|1|2\r\nkdef||3|klsx", "KLSX", kLatBefore, kLonBefore},
    {"SiteSplitByBarNoMatch", "kl|sx|1|2", "KLSX", kLatBefore, kLonBefore},
    {"LastMatchWins", "klsx||1|2\r\nklsx||3|4\r\nkabc||5|6\r\n", "KLSX", "3", "4"},
    {"LastContainingLineWins", "klsx||1|2\r\nxklsx||3|4\r\n", "KLSX", "3", "4"},
    {"EmptySiteTextMatchesNothing", "kabc||1|2\r\nklsx||3|4\r\n", "", kLatBefore, kLonBefore},
    {"BlankSiteTextMatchesNothing", "kabc||1|2\r\n    ||3|4\r\n", "  ", kLatBefore, kLonBefore},
    {"SiteTextWithBlankIsUsedAsIs", "k lsx||1|2\r\nklsx||3|4", "K L", "1", "2"},
    {"Line200Chars", line200(), "KLSX", "38.699", "-90.683"},
    {"HighBytesArePlainBytes", "\xe9klsx\xff|\xc3\xa9|1\xb0|2\xb0", "KLSX", "1\xb0", "2\xb0"},
    {"HighByteSiteTextMatchesExactly", "\xe9klsx||1|2", "\xe9KLSX", "1", "2"},
    {"HighBytesNotCaseFolded", "\xe9klsx||1|2", "\xc9KLSX", kLatBefore, kLonBefore},
    {"NulIsPlainByte", std::string("kl\0sx||1|2", 10), std::string("L\0S", 3), "1", "2"},
};

void PrintTo(const ReaderCase& c, std::ostream* os) {
  *os << c.name;
}

class SiteTableReader : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(SiteTableReader, AppliesTheLastMatchingLine) {
  const ReaderCase& c = GetParam();
  std::string lat = kLatBefore;
  std::string lon = kLonBefore;
  lookUpSite(c.table, c.site, lat, lon);
  EXPECT_EQ(lat, c.lat);
  EXPECT_EQ(lon, c.lon);
}

INSTANTIATE_TEST_SUITE_P(Cases, SiteTableReader, ::testing::ValuesIn(kReaderCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- the table shipped beside the program ---

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) {
  return static_cast<bool>(std::ifstream(path));
}

const std::string kShippedTable = std::string(STORMTALLY_SOURCE_DIR) + "/data/radars.gis";
const std::string kStationReport = std::string(STORMTALLY_SHARED_DATA) + "/nexrad-stations.txt";

TEST(ShippedSiteTable, HasEverySiteOnItsOwnCrLfLine) {
  const std::string table = readFile(kShippedTable);
  ASSERT_FALSE(table.empty()) << kShippedTable;
  ASSERT_GE(table.size(), 2u);
  EXPECT_EQ(table.substr(table.size() - 2), "\r\n");

  std::size_t lines = 0;
  for (std::size_t pos = 0; pos < table.size(); ++pos) {
    if (table[pos] == '\r') {
      ASSERT_TRUE(pos + 1 < table.size() && table[pos + 1] == '\n') << "lone CR at " << pos;
      ++lines;
      ++pos;
    } else {
      ASSERT_NE(table[pos], '\n') << "lone LF at " << pos;
    }
  }
  EXPECT_EQ(lines, 210u);
}

TEST(ShippedSiteTable, ResolvesSitesToTheReportsCoordinates) {
  const std::string table = readFile(kShippedTable);
  ASSERT_FALSE(table.empty()) << kShippedTable;
  struct Site {
    const char* text;
    const char* lat;
    const char* lon;
  };
  // As NOAA's station report writes them.
  for (const Site& site :
       {Site{"KTLX", "35.333361", "-97.277761"}, Site{"KLSX", "38.698611", "-90.682778"},
        Site{"ktlx", "35.333361", "-97.277761"}, Site{"KABX", "35.149722", "-106.82388"},
        Site{"PGUA", "13.455833", "144.811111"}}) {
    std::string lat = kLatBefore;
    std::string lon = kLonBefore;
    lookUpSite(table, site.text, lat, lon);
    EXPECT_EQ(lat, site.lat) << site.text;
    EXPECT_EQ(lon, site.lon) << site.text;
  }
}

TEST(ShippedSiteTable, IsExactlyWhatTheToolMakesFromTheStationReport) {
#ifndef STORMTALLY_MAKE_SITE_TABLE
  GTEST_SKIP() << "make_site_table is not built in this tree";
#else
  if (!exists(kStationReport)) {
    GTEST_SKIP() << "NOAA station report not found at " << kStationReport
                 << " (only the development machine has the shared reference data)";
  }
  const std::string made = ::testing::TempDir() + "radars.gis." + std::to_string(::getpid());
  const std::string command = std::string("\"") + STORMTALLY_MAKE_SITE_TABLE + "\" \"" +
                              kStationReport + "\" \"" + made + "\" > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::string expected = readFile(made);
  std::remove(made.c_str());
  ASSERT_FALSE(expected.empty());
  EXPECT_TRUE(readFile(kShippedTable) == expected)
      << "data/radars.gis is stale: regenerate it with make_site_table";
#endif
}

}  // namespace
}  // namespace stormtally::testing
