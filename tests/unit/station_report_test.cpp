// make_site_table's converter: NOAA's fixed-width radar station report to the site table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "station_report.h"

namespace stormtally::tools {
namespace {

// One line of NOAA's report: each cell padded to its column's width, one blank between cells.
std::string noaa(std::vector<std::string> cells, const char* end = "\n", char pad = ' ') {
  const std::size_t widths[] = {8, 4, 5, 30, 20, 2, 30, 9, 10, 6, 5, 50};
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    cells[i].resize(widths[i], pad);
    line += cells[i] + (i + 1 < cells.size() ? " " : end);
  }
  return line;
}

const std::string kHeader = noaa({"NCDCID", "ICAO", "WBAN", "NAME", "COUNTRY", "ST", "COUNTY",
                                  "LAT", "LON", "ELEV", "UTC", "STNTYPE"}) +
                            noaa(std::vector<std::string>(12), "\n", '-');
// An empty WBAN and state, blank lines, CR LF, and a line that stops right after the longitude.
const std::string kSites = noaa({"30078819", "KCRI", "", "ROC FAA REDUNDANT RDA 1", "UNITED STATES",
                                 "", "CLEVELAND", "35.238333", "-97.46", "1315", "-6", "NEXRAD"},
                                "\r\n\n  \r\n") +
                           noaa({"30001961", "PGUA", "41417", "ANDERSEN AFB AGANA", "GUAM", "GU",
                                 "GUAM", "13.455833", "144.811111"},
                                "");
const std::string kSmall = "ICAO NAME  LAT   LON\n---- ----- ----- -----\n";

TEST(StationReport, ConvertsOrNamesTheFaultyLine) {
  // A report, and the table made or the start of the error: the line it names.
  const std::pair<std::string, std::string> cases[] = {
      {kHeader + kSites,
       "kcri|ROC FAA REDUNDANT RDA 1|35.238333|-97.46\r\npgua|ANDERSEN AFB AGANA|13.455833|"
       "144.811111\r\n"},
      // Columns are found by their underline, in any order; names cannot break the table.
      {"LON        NAME   ICAO LAT\n---------- ------ ---- -------\n-90.682778 ST LOU KLSX 38.6986",
       "klsx|ST LOU|38.6986|-90.682778\r\n"},
      {kSmall + "KXYZ A|B\rC 1.5   -2\n", "kxyz|A/B C|1.5|-2\r\n"},
      {"", "line 1:"},
      {kHeader, "line 2:"},
      {kHeader + "\n\n", "line 4:"},
      {"ICAO NAME  LAT\n---- ----- -----\nKXYZ A     1\n", "line 1:"},
      {kSmall + "KXYZ A     91    1\n", "line 3:"},
      {kSmall + "KXYZ A     1     180.1\n", "line 3:"},
      {kSmall + "KXYZ A     1     \r2\n", "line 3:"},
      {kSmall + "KXYZ A     1e1   2\n", "line 3:"},
      {kSmall + "KXYZ A     nan   2\n", "line 3:"},
      {kSmall + "KXYZ A     1\n", "line 3:"},
      {kSmall + "KXY  A     1     2\n", "line 3:"},
      {kSmall + "KXYZ A     1     2\nKABC B     1     2\nkxyz C     1     2\n", "line 5:"},
  };
  for (const auto& [report, tableOrError] : cases) {
    const SiteTableResult result = siteTableFromStationReport(report);
    const bool error = tableOrError.rfind("line ", 0) == 0;  // else no error at all
    EXPECT_EQ(result.error.substr(0, error ? tableOrError.size() : std::string::npos),
              error ? tableOrError : "")
        << report;
    EXPECT_EQ(result.table, error ? "" : tableOrError) << report;
  }
}

}  // namespace
}  // namespace stormtally::tools
