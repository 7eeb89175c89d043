// A plain, slow restatement of the site table's reading rules, written for clarity and not
// for speed: the fuzz targets hold the real reader to it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace stormtally::fuzzing {

inline std::vector<std::string> tableLines(std::string_view table) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;  // characters seen since the last terminator
  for (std::size_t i = 0; i < table.size(); ++i) {
    const char ch = table[i];
    if (ch == '\r' || ch == '\n') {
      lines.push_back(line);
      line.clear();
      open = false;
      if (ch == '\r' && i + 1 < table.size() && table[i + 1] == '\n') ++i;
    } else {
      line += ch;
      open = true;
    }
  }
  if (open) lines.push_back(line);
  return lines;
}

inline std::vector<std::string> lineFields(const std::string& line) {
  std::vector<std::string> fields;
  if (line.empty()) return fields;
  std::string field;
  for (char ch : line) {
    if (ch == '|') {
      fields.push_back(field);
      field.clear();
    } else {
      field += ch;
    }
  }
  fields.push_back(field);
  return fields;
}

inline std::string trimmedOfBlanks(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

inline void referenceLookUpSite(std::string_view table, std::string_view siteText, std::string& lat,
                                std::string& lon) {
  std::string site(siteText);
  if (site.find_first_not_of(' ') == std::string::npos) return;
  for (char& ch : site) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + ('a' - 'A'));
  }
  for (const std::string& line : tableLines(table)) {
    const std::vector<std::string> fields = lineFields(line);
    if (fields.empty() || fields[0].empty() || fields[0].find(site) == std::string::npos) {
      continue;
    }
    if (fields.size() >= 3) lat = trimmedOfBlanks(fields[2]);
    if (fields.size() >= 4) lon = trimmedOfBlanks(fields[3]);
  }
}

}  // namespace stormtally::fuzzing
