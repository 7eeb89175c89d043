#include "station_report.h"

#include <cstdlib>
#include <set>
#include <vector>

namespace stormtally::tools {

namespace {

struct Column {
  std::size_t begin = 0;
  std::size_t end = 0;  // one past the last character
  std::string name;
};

std::string_view trimBlanks(std::string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && (text[first] == ' ' || text[first] == '\t')) ++first;
  while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t')) --last;
  return text.substr(first, last - first);
}

// The part of a line under a column; lines whose last columns are empty may be shorter.
std::string_view cell(std::string_view line, const Column& column) {
  if (column.begin >= line.size()) return {};
  return trimBlanks(line.substr(column.begin, column.end - column.begin));
}

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// Each run of dashes in the underline is one column; its name is the header text above it.
std::vector<Column> columnsFrom(std::string_view header, std::string_view dashes) {
  std::vector<Column> columns;
  std::size_t pos = 0;
  while (pos < dashes.size()) {
    if (dashes[pos] != '-') {
      ++pos;
      continue;
    }
    Column column;
    column.begin = pos;
    while (pos < dashes.size() && dashes[pos] == '-') ++pos;
    column.end = pos;
    column.name = std::string(cell(header, column));
    columns.push_back(column);
  }
  return columns;
}

const Column* findColumn(const std::vector<Column>& columns, std::string_view name) {
  for (const Column& column : columns) {
    if (column.name == name) return &column;
  }
  return nullptr;
}

// A plain decimal number (optional sign, digits, optional fraction) that fills the whole text
// and lies within [-limit, limit]. Anything more, even white space that a number parser would
// skip, could break the table's lines.
bool isCoordinate(std::string_view text, double limit) {
  std::size_t pos = 0;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) ++pos;
  std::size_t digits = 0;
  bool point = false;
  for (; pos < text.size(); ++pos) {
    if (text[pos] >= '0' && text[pos] <= '9') {
      ++digits;
    } else if (text[pos] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  const double value = std::strtod(std::string(text).c_str(), nullptr);
  return value >= -limit && value <= limit;
}

// The name is only for people reading the table, but a "|" in it would shift the
// coordinates into the wrong fields and a control character (a stray CR) would end the line.
std::string tableSafeName(std::string_view line, const Column& column) {
  if (column.begin >= line.size()) return {};
  std::string name(line.substr(column.begin, column.end - column.begin));
  for (char& ch : name) {
    if (ch == '|') ch = '/';
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = ' ';
  }
  return std::string(trimBlanks(name));
}

bool isSiteId(std::string_view id) {
  if (id.size() != 4) return false;
  for (char ch : id) {
    if (!((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9'))) {
      return false;
    }
  }
  return true;
}

std::string lowerAscii(std::string_view text) {
  std::string lowered(text);
  for (char& ch : lowered) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return lowered;
}

SiteTableResult failure(std::size_t lineNumber, const std::string& message) {
  SiteTableResult result;
  result.error = "line " + std::to_string(lineNumber) + ": " + message;
  return result;
}

}  // namespace

SiteTableResult siteTableFromStationReport(std::string_view report) {
  const std::vector<std::string_view> lines = splitLines(report);
  if (lines.size() < 2) return failure(lines.size() + 1, "no header and underline");

  const std::vector<Column> columns = columnsFrom(lines[0], lines[1]);
  const Column* icao = findColumn(columns, "ICAO");
  const Column* name = findColumn(columns, "NAME");
  const Column* lat = findColumn(columns, "LAT");
  const Column* lon = findColumn(columns, "LON");
  if (!icao || !name || !lat || !lon) {
    return failure(1, "the header lacks one of the columns ICAO, NAME, LAT and LON");
  }

  SiteTableResult result;
  std::set<std::string> seen;
  for (std::size_t i = 2; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const std::size_t lineNumber = i + 1;
    if (trimBlanks(line).empty()) continue;

    const std::string id = lowerAscii(cell(line, *icao));
    const std::string_view latText = cell(line, *lat);
    const std::string_view lonText = cell(line, *lon);
    if (!isSiteId(id))
      return failure(lineNumber, "site id '" + id + "' is not 4 letters or digits");
    if (!seen.insert(id).second) return failure(lineNumber, "site id '" + id + "' repeats");
    if (!isCoordinate(latText, 90.0)) {
      return failure(lineNumber, "latitude '" + std::string(latText) + "' is not a latitude");
    }
    if (!isCoordinate(lonText, 180.0)) {
      return failure(lineNumber, "longitude '" + std::string(lonText) + "' is not a longitude");
    }

    const std::string siteName = tableSafeName(line, *name);

    result.table += id;
    result.table += '|';
    result.table += siteName;
    result.table += '|';
    result.table += latText;
    result.table += '|';
    result.table += lonText;
    result.table += "\r\n";
    ++result.sites;
  }
  if (result.sites == 0) return failure(lines.size(), "the report lists no site");
  return result;
}

}  // namespace stormtally::tools
