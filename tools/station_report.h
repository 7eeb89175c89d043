// Turns NOAA's fixed-width radar station report (nexrad-stations.txt) into the widget's site
// table: one line per site, `id|name|lat|lon`, the id in lower case, each line ending in
// CR LF.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace stormtally::tools {

struct SiteTableResult {
  std::string table;  // the site table, complete only when error is empty
  std::size_t sites = 0;
  std::string error;  // what made the report unusable, with its line number
};

// The report's first line names the columns and its second line underlines each one with
// dashes; the columns are taken from those dashes, so a report whose columns move or widen
// still converts. Every later non-blank line is one site. The latitude and longitude are
// copied as the report writes them, without blanks.
SiteTableResult siteTableFromStationReport(std::string_view report);

}  // namespace stormtally::tools
