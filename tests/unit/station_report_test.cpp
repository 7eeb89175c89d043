// make_site_table's converter: NOAA's fixed-width radar station report to the site table.
#include <gtest/gtest.h>

#include <string>

#include "station_report.h"

namespace stormtally::tools {
namespace {

// The report's header, its underline and a few of its sites, as NOAA writes them: a
// 10-character longitude, an empty WBAN, an empty state, and a site whose line stops right
// after the longitude.
const std::string kHeader =
    "NCDCID   ICAO WBAN  NAME                           COUNTRY              ST COUNTY        "
    "                 LAT       LON        ELEV   UTC   STNTYPE                              "
    "              \n"
    "-------- ---- ----- ------------------------------ -------------------- -- -------------"
    "----------------- --------- ---------- ------ ----- --------------------------------------"
    "------------ \n";
const std::string kKabx =
    "30001795 KABX 03019 ALBUQUERQUE                    UNITED STATES        NM BERNALILLO    "
    "                 35.149722 -106.82388 5951   -7    NEXRAD                                "
    "             \n";
const std::string kKcri =
    "30078819 KCRI       ROC FAA REDUNDANT RDA 1        UNITED STATES        OK CLEVELAND     "
    "                 35.238333 -97.46     1315   -6    NEXRAD                                "
    "             \n";
const std::string kRksg =
    "30001968 RKSG 43216 CAMP HUMPHREYS                 KOREA, SOUTH                          "
    "                 37.207569 127.285561 1521   9     NEXRAD                                "
    "             \n";
const std::string kPguaShort =
    "30001961 PGUA 41417 ANDERSEN AFB AGANA             GUAM                 GU GUAM          "
    "                 13.455833 144.811111\n";

const std::string kExpected =
    "kabx|ALBUQUERQUE|35.149722|-106.82388\r\n"
    "kcri|ROC FAA REDUNDANT RDA 1|35.238333|-97.46\r\n"
    "rksg|CAMP HUMPHREYS|37.207569|127.285561\r\n"
    "pgua|ANDERSEN AFB AGANA|13.455833|144.811111\r\n";

std::string withCrLf(std::string text) {
  std::string out;
  for (char ch : text) {
    if (ch == '\n') out += '\r';
    out += ch;
  }
  return out;
}

struct GoodCase {
  const char* name;
  std::string report;
  std::string table;
};

const GoodCase kGoodCases[] = {
    {"NoaaLayout", kHeader + kKabx + kKcri + kRksg + kPguaShort, kExpected},
    {"CrLfReport", withCrLf(kHeader + kKabx + kKcri + kRksg + kPguaShort), kExpected},
    {"NoFinalLineEnd",
     kHeader + kKabx + kKcri + kRksg + kPguaShort.substr(0, kPguaShort.size() - 1), kExpected},
    {"BlankLinesSkipped", kHeader + "\n" + kKabx + "   \n" + kKcri + kRksg + kPguaShort + "\n",
     kExpected},
    {"ColumnsFoundByTheirUnderline",
     "LON        NAME   ICAO LAT\n"
     "---------- ------ ---- -------\n"
     "-90.682778 ST LOU KLSX 38.6986\n",
     "klsx|ST LOU|38.6986|-90.682778\r\n"},
    {"BarInNameCannotShiftFields",
     "ICAO NAME  LAT  LON\n---- ----- ---- ----\nKXYZ A|B   1.5  -2\n", "kxyz|A/B|1.5|-2\r\n"},
    {"ControlCharactersInNameCannotEndTheLine",
     "ICAO NAME  LAT  LON\n---- ----- ---- ----\nKXYZ A\rB\t\r 1.5  -2\n", "kxyz|A B|1.5|-2\r\n"},
};

class StationReport : public ::testing::TestWithParam<GoodCase> {};

TEST_P(StationReport, Converts) {
  const SiteTableResult result = siteTableFromStationReport(GetParam().report);
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(result.table, GetParam().table);
}

INSTANTIATE_TEST_SUITE_P(Cases, StationReport, ::testing::ValuesIn(kGoodCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadCase {
  const char* name;
  std::string report;
  const char* errorStart;  // the line the error names
};

const std::string kSmallHeader = "ICAO NAME  LAT   LON\n---- ----- ----- -----\n";

const BadCase kBadCases[] = {
    {"Empty", "", "line 1:"},
    {"HeaderOnly", kHeader, "line 2:"},
    {"NoSites", kHeader + "\n\n", "line 4:"},
    {"NoLonColumn", "ICAO NAME  LAT\n---- ----- -----\nKXYZ A     1\n", "line 1:"},
    {"LatitudeNotANumber", kSmallHeader + "KXYZ A     45x   1\n", "line 3:"},
    {"LatitudeOutOfRange", kSmallHeader + "KXYZ A     91    1\n", "line 3:"},
    {"LongitudeOutOfRange", kSmallHeader + "KXYZ A     1     180.1\n", "line 3:"},
    {"LongitudeAfterControlCharacter", kSmallHeader + "KXYZ A     1     \r2\n", "line 3:"},
    {"LatitudeInExponentForm", kSmallHeader + "KXYZ A     1e1   2\n", "line 3:"},
    {"LatitudeNotFinite", kSmallHeader + "KXYZ A     nan   2\n", "line 3:"},
    {"LongitudeMissing", kSmallHeader + "KXYZ A     1\n", "line 3:"},
    {"IdTooShort", kSmallHeader + "KXY  A     1     2\n", "line 3:"},
    {"IdRepeats", kSmallHeader + "KXYZ A     1     2\nKABC B     1     2\nkxyz C     1     2\n",
     "line 5:"},
};

void PrintTo(const GoodCase& c, std::ostream* os) {
  *os << c.name;
}
void PrintTo(const BadCase& c, std::ostream* os) {
  *os << c.name;
}

class StationReportFault : public ::testing::TestWithParam<BadCase> {};

TEST_P(StationReportFault, NamesTheLineAndGivesNoTable) {
  const SiteTableResult result = siteTableFromStationReport(GetParam().report);
  EXPECT_EQ(result.error.rfind(GetParam().errorStart, 0), 0u) << result.error;
  EXPECT_EQ(result.table, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, StationReportFault, ::testing::ValuesIn(kBadCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace stormtally::tools
