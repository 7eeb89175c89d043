// make_site_table REPORT OUTPUT
//
// Regenerates the widget's site table (radars.gis) from NOAA's fixed-width radar station
// report. The output is written only when the whole report converts; on any fault the tool
// names the line, leaves OUTPUT as it was and exits with status 1.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "station_report.h"

namespace {

bool readFile(const char* path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Writes beside the target first, so a failed write never leaves half a table behind.
bool writeFile(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_site_table NEXRAD_STATIONS_TXT RADARS_GIS\n";
    return 2;
  }
  std::string report;
  if (!readFile(argv[1], report)) {
    std::cerr << "make_site_table: cannot read " << argv[1] << "\n";
    return 1;
  }
  const stormtally::tools::SiteTableResult result =
      stormtally::tools::siteTableFromStationReport(report);
  if (!result.error.empty()) {
    std::cerr << "make_site_table: " << argv[1] << ", " << result.error << "\n";
    return 1;
  }
  if (!writeFile(argv[2], result.table)) {
    std::cerr << "make_site_table: cannot write " << argv[2] << "\n";
    return 1;
  }
  std::cout << "make_site_table: " << result.sites << " sites written to " << argv[2] << "\n";
  return 0;
}
